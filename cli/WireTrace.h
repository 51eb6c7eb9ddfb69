#pragma once

// Prints every byte in and out on standard error, in hex with times, for field reports.
void EnableWireTrace();
