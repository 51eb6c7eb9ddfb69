#pragma once

// Exit statuses of zv8810-fwu.
enum TExitCode : int {
  ExitSuccess = 0,
  ExitNothingAchieved = 1,  // the job ran and achieved nothing (result code 0)
  ExitConnect = 2,          // result codes 2 to 5 of the programming thread
  ExitResident = 3,
  ExitErase = 4,
  ExitWrite = 5,
  ExitNoAnswer = 6,         // the receiver did not answer in its working protocol
  ExitOpenFailed = 7,       // the port could not be opened
  ExitPortLost = 8,         // the port went away during the job (an unplugged cable or adapter)
  ExitFirmwareDamaged = 9,  // versions --check: the firmware does not match its own header
  ExitVersionDiffers = 10,  // versions --expect: the receiver has another firmware version
  ExitUsage = 64,
  ExitDataError = 65,    // the system file cannot be written: empty, for another device or version,
                         // or without a description block (and no --force)
  ExitNoInput = 66,      // the system file is missing or unreadable
  ExitUnavailable = 69,  // the history (its server, or the local file) cannot be read or written
  ExitCrashed = 70,      // the program failed unexpectedly; a crash report names the cause
  ExitCantCreate = 73,   // the report or the backup folder cannot be written
  ExitInterrupted = 130,
};
