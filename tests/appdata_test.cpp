// The data module: settings file, system file image, description block, result texts.
#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "appdata/DMU.h"
#include "appdata/FileCheck.h"
#include "appdata/MessageSink.h"
#include "platform/UserFolders.h"
#include "tests/TestSupport.h"

namespace fs = std::filesystem;

namespace {

struct TRecordingSink : TMessageSink {
  std::vector<std::string> texts;
  TMessageAnswer Show(const TMessage& message) override {
    texts.push_back(message.Text);
    return TMessageAnswer::Ok;
  }
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

class DataModule : public ::testing::Test {
 protected:
  void SetUp() override {
    folder =
        TempDir() + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    fs::remove_all(folder);
    fs::create_directories(folder);
    SetMessageSink(&sink);
    IsRussian = false;
  }
  void TearDown() override {
    SetMessageSink(nullptr);
    IsRussian = false;
  }
  std::string Ini() const { return folder + "ZV8810_FWU.ini"; }

  std::string folder;
  TRecordingSink sink;
  TDM dm{"", ""};
};

// A description block: marker, fields at their offsets, 93 bytes in all.
std::string Block(const std::string& id, const std::string& v1, const std::string& v2,
                  const std::string& date, const std::string& time, const std::string& comment) {
  std::string block(DescriptionBlockSize, '\0');
  auto put = [&](std::size_t offset, const std::string& text) {
    block.replace(offset, text.size(), text);
  };
  put(0, DescriptionMarker);
  put(20, id);
  put(26, v1);
  put(29, v2);
  put(32, date);
  put(44, time);
  put(53, comment);
  return block;
}

}  // namespace

TEST_F(DataModule, FirstStartInAnEmptyFolderWritesTheFourLines) {
  dm = TDM(folder, "ZV8810_FWU.ini");
  CreateDataModule(dm);
  EXPECT_EQ(ReadFile(Ini()), "ComRate=115200\r\nProtocol=NMEA\r\nResetType=1\r\nLang=0\r\n");
  EXPECT_EQ(Sets.ResetType, 1);
  EXPECT_FALSE(IsRussian);
  EXPECT_TRUE(sink.texts.empty());
}

TEST_F(DataModule, LoadingTable) {
  struct {
    const char* name;
    std::string file;
    std::string comPort, comRate, protocol;
    int resetType, lang;
    bool russian;
    std::string rewritten;  // empty: the file is left as it was
  } cases[] = {
      {"only Lang=1", "Lang=1\r\n", "", "", "", 1, 0, false, "ResetType=1\r\nLang=0\r\n"},
      {"key case ignored, spaces not trimmed",
       "comport=COM5\r\nComPort =COM6\r\nResetType=0\r\nLang=1\r\n", "COM5", "", "", 0, 1, true,
       ""},
      {"value holding =", "SystemFile=/a=b/c.bin\nProtocol=ZORP\nResetType=0\nLang=0\n", "", "",
       "ZORP", 0, 0, false, ""},
      {"Lang=2 is English", "ResetType=1\r\nLang=2\r\n", "", "", "", 1, 2, false, ""},
      {"signs and blanks", "ResetType= +0 \r\nLang=-1\r\n", "", "", "", 0, -1, false, ""},
      {"hexadecimal is refused", "ComRate=9600\r\nResetType=0x1\r\nLang=1\r\nFoo=bar\r\n", "",
       "9600", "", 1, 0, false, "ComRate=9600\r\nResetType=1\r\nLang=0\r\n"},
      {"binary junk", std::string("\x01\xff=\x00zz\r\nResetType=1\x00", 20), "", "", "", 1, 0,
       false, "ResetType=1\r\nLang=0\r\n"},
  };
  for (auto& c : cases) {
    WriteFile(Ini(), c.file);
    dm = TDM(folder, "ZV8810_FWU.ini");
    dm.LoadSettings();
    EXPECT_EQ(Sets.ComPort, c.comPort) << c.name;
    EXPECT_EQ(Sets.ComRate, c.comRate) << c.name;
    EXPECT_EQ(Sets.Protocol, c.protocol) << c.name;
    EXPECT_EQ(Sets.ResetType, c.resetType) << c.name;
    EXPECT_EQ(Sets.Lang, c.lang) << c.name;
    EXPECT_EQ(bool(IsRussian), c.russian) << c.name;
    EXPECT_EQ(ReadFile(Ini()), c.rewritten.empty() ? c.file : c.rewritten) << c.name;
  }
  // The rewritten "only Lang=1" file loads without error the next time.
  WriteFile(Ini(), "ResetType=1\r\nLang=0\r\n");
  dm.LoadSettings();
  EXPECT_EQ(Sets.ComRate, "");
  EXPECT_EQ(ReadFile(Ini()), "ResetType=1\r\nLang=0\r\n");
}

TEST_F(DataModule, WhatIsReadSurvivesASaveWithDuplicateKeys) {
  // The first line of a key is the one read; an emptied value must not bring back a later one.
  WriteFile(Ini(),
            "ComPort=\r\nComPort=COM3\r\nSystemFile=/a.bin\r\nsystemfile=/b.bin\r\nResetType=0\r\n"
            "Lang=0\r\n");
  dm = TDM(folder, "ZV8810_FWU.ini");
  dm.LoadSettings();
  ASSERT_EQ(Sets.ComPort, "");
  ASSERT_EQ(Sets.SystemFile, "/a.bin");
  Sets.SystemFile = "";
  EXPECT_TRUE(dm.SaveSettings());
  dm.LoadSettings();
  EXPECT_EQ(Sets.ComPort, "");
  EXPECT_EQ(Sets.SystemFile, "");
  EXPECT_EQ(ReadFile(Ini()), "ResetType=0\r\nLang=0\r\n");
}

TEST_F(DataModule, UnwritableSettingsAtStartUpAreReportedAndStartUpGoesOn) {
  fs::create_directories(Ini());  // a directory where the file should be
  dm = TDM(folder, "ZV8810_FWU.ini");
  EXPECT_THROW(dm.LoadSettings(), TSettingsWriteError);
  CreateDataModule(dm);
  ASSERT_EQ(sink.texts.size(), 1u);
  EXPECT_NE(sink.texts[0].find("cannot be written"), std::string::npos);
  EXPECT_EQ(Sets.ComRate, "115200");
  EXPECT_TRUE(fs::is_directory(Ini()));
}

TEST_F(DataModule, SavingReplacesRemovesAndKeepsForeignLines) {
  WriteFile(
      Ini(),
      "# comment\r\ncomport=COM1\r\nSystemFile=/old.bin\r\nOther=1\r\nResetType=1\r\nLang=0\r\n");
  dm = TDM(folder, "ZV8810_FWU.ini");
  dm.LoadSettings();
  Sets.ComPort = "COM9";
  Sets.SystemFile = "";
  Sets.Protocol = "ZORP";
  Sets.Lang = 1;
  EXPECT_TRUE(dm.SaveSettings());
  EXPECT_EQ(ReadFile(Ini()),
            "# comment\r\nComPort=COM9\r\nOther=1\r\nResetType=1\r\nLang=1\r\nProtocol=ZORP\r\n");
  EXPECT_TRUE(sink.texts.empty());
}

TEST_F(DataModule, SavingFailuresShowTheMessageAndLoseNothing) {
  dm = TDM(folder, "ZV8810_FWU.ini");
  WriteFile(Ini(), "Lang=0\r\nResetType=0\r\n");
  chmod(Ini().c_str(), 0444);
  EXPECT_FALSE(dm.SaveSettings());
  EXPECT_EQ(ReadFile(Ini()), "Lang=0\r\nResetType=0\r\n");
  chmod(Ini().c_str(), 0644);
  fs::remove(Ini());
  IsRussian = true;
  EXPECT_FALSE(dm.SaveSettings());
  EXPECT_FALSE(fs::exists(Ini())) << "a removed file is not created by a save";
  EXPECT_EQ(sink.texts,
            (std::vector<std::string>{"Settings file not saved!", "Ошибка сохранения настроек!"}));
}

// A folder of an installed program, which the program never writes into.
std::string InstalledProgramFolder() {
#ifdef _WIN32
  const char* programFiles = std::getenv("ProgramFiles");
  return std::string(programFiles ? programFiles : "C:\\Program Files") +
         "\\ZV8810 Firmware Updater\\";
#else
  return "/usr/bin/";
#endif
}

// Where the settings file lives: beside the executable where the program can write it (a
// portable copy), in the user's configuration folder where it cannot or where the executable is
// an installed program's.
TEST_F(DataModule, SettingsLiveBesideTheExecutableOrInTheUsersFolder) {
  const std::string user = folder + "config/zv8810-fwu/";
  EXPECT_EQ(SettingsFolderFor(folder, "ZV8810_FWU.ini", user), folder) << "no file yet";
  WriteFile(Ini(), "ResetType=1\r\nLang=0\r\n");
  EXPECT_EQ(SettingsFolderFor(folder, "ZV8810_FWU.ini", user), folder) << "a file there";
  EXPECT_EQ(SettingsFolderFor(InstalledProgramFolder(), "ZV8810_FWU.ini", user), user);
  EXPECT_EQ(SettingsFolderFor("", "ZV8810_FWU.ini", user), user) << "the executable unknown";

  // The installed program's first start makes the user's folder and file, and says nothing;
  // what the operator chose is read back at the next start.
  dm = TDM(SettingsFolderFor(InstalledProgramFolder(), "ZV8810_FWU.ini", user), "ZV8810_FWU.ini");
  CreateDataModule(dm);
  EXPECT_TRUE(sink.texts.empty());
  EXPECT_EQ(ReadFile(user + "ZV8810_FWU.ini"),
            "ComRate=115200\r\nProtocol=NMEA\r\nResetType=1\r\nLang=0\r\n");
  Sets.ComPort = "COM9";
  Sets.Lang = 1;
  EXPECT_TRUE(dm.SaveSettings());
  dm = TDM(SettingsFolderFor(InstalledProgramFolder(), "ZV8810_FWU.ini", user), "ZV8810_FWU.ini");
  CreateDataModule(dm);
  EXPECT_EQ(Sets.ComPort, "COM9");
  EXPECT_TRUE(IsRussian);
  EXPECT_TRUE(sink.texts.empty());
  EXPECT_EQ(ReadFile(Ini()), "ResetType=1\r\nLang=0\r\n") << "the other file is not touched";
}

// The user's folders follow the system's variables.
TEST(UserFolders, FollowTheSystemsVariables) {
#ifdef _WIN32
  const char* config = "APPDATA";
  const char* data = "LOCALAPPDATA";
  const std::string base = "C:\\Users\\op\\AppData\\X";
  const std::string tail = "\\ZV8810 Firmware Updater\\";
#else
  const char* config = "XDG_CONFIG_HOME";
  const char* data = "XDG_DATA_HOME";
  const std::string base = "/home/op/x";
  const std::string tail = "/zv8810-fwu/";
#endif
  for (const char* variable : {config, data}) {
    const char* old = std::getenv(variable);
    const std::string saved = old ? old : "";
#ifdef _WIN32
    _putenv_s(variable, base.c_str());
#else
    setenv(variable, base.c_str(), 1);
#endif
    const std::string got = variable == config ? plat::UserConfigFolder() : plat::UserDataFolder();
    EXPECT_EQ(got, base + tail) << variable;
#ifdef _WIN32
    _putenv_s(variable, saved.c_str());
#else
    if (old)
      setenv(variable, saved.c_str(), 1);
    else
      unsetenv(variable);
#endif
  }
}

// Line ends as other editors leave them: every kind is read, CR LF is written.
TEST_F(DataModule, LineEndsOfEveryKindAreRead) {
  struct {
    const char* name;
    std::string file;
  } cases[] = {
      {"CR LF", "# kept\r\nComPort=COM3\r\nResetType=0\r\nLang=1\r\n"},
      {"LF", "# kept\nComPort=COM3\nResetType=0\nLang=1\n"},
      {"lone CR", "# kept\rComPort=COM3\rResetType=0\rLang=1\r"},
      {"mixed, no end on the last line", "# kept\rComPort=COM3\nResetType=0\r\nLang=1"},
  };
  for (auto& c : cases) {
    WriteFile(Ini(), c.file);
    dm = TDM(folder, "ZV8810_FWU.ini");
    dm.LoadSettings();
    EXPECT_EQ(Sets.ComPort, "COM3") << c.name;
    EXPECT_EQ(Sets.ResetType, 0) << c.name;
    EXPECT_TRUE(IsRussian) << c.name;
    EXPECT_EQ(ReadFile(Ini()), c.file) << c.name << ": a complete file is not rewritten";
    Sets.ComPort = "COM4";
    EXPECT_TRUE(dm.SaveSettings()) << c.name;
    EXPECT_EQ(ReadFile(Ini()), "# kept\r\nComPort=COM4\r\nResetType=0\r\nLang=1\r\n") << c.name;
  }
}

// Saving writes the file the operator's setup points at: through a link, with its mode and
// owner, and in place when its folder takes no new files.
// Links, owners and modes, and a folder closed to new files: what a POSIX install meets.
#ifndef _WIN32
TEST_F(DataModule, SavingKeepsTheLinkModeAndOwnerOfTheFile) {
  const std::string real = folder + "real/";
  fs::create_directories(real);
  WriteFile(real + "settings.ini", "Other=1\r\nResetType=1\r\nLang=0\r\n");
  fs::create_symlink("real/settings.ini", Ini());
  dm = TDM(folder, "ZV8810_FWU.ini");
  dm.LoadSettings();
  Sets.ComPort = "COM5";
  ASSERT_TRUE(dm.SaveSettings());
  EXPECT_TRUE(fs::is_symlink(Ini())) << "the link stays a link";
  EXPECT_EQ(ReadFile(real + "settings.ini"),
            "Other=1\r\nResetType=1\r\nLang=0\r\nComPort=COM5\r\n");
  EXPECT_EQ(fs::directory_iterator(real)->path().filename(), "settings.ini")
      << "no temporary file is left beside the target";

  // Mode 666 stays 666 (and, saved by root, the file stays its owner's).
  fs::remove(Ini());
  WriteFile(Ini(), "ResetType=1\r\nLang=0\r\n");
  ASSERT_EQ(chmod(Ini().c_str(), 0666), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(Ini().c_str(), 65534, 65534), 0);
  }
  Sets.ComPort = "COM6";
  ASSERT_TRUE(dm.SaveSettings());
  struct stat st {};
  ASSERT_EQ(stat(Ini().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0666u);
  if (root) {
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
  }
  EXPECT_NE(ReadFile(Ini()).find("ComPort=COM6\r\n"), std::string::npos);
  EXPECT_TRUE(sink.texts.empty());
}

// An install folder the operator cannot write to, with the settings file opened up for them:
// the save writes the file in place. The operator is another user when the tests run as root.
TEST_F(DataModule, SavingAWritableFileInAReadOnlyFolder) {
  WriteFile(Ini(), "# install\r\nResetType=1\r\nLang=0\r\n");
  ASSERT_EQ(chmod(Ini().c_str(), 0666), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
  dm = TDM(folder, "ZV8810_FWU.ini");
  auto save = [&] {
    Sets = TSets{};
    Sets.ComPort = "COM8";
    Sets.ResetType = 0;
    return dm.SaveSettings();
  };
  if (geteuid() == 0) {
    ASSERT_EQ(chmod(TempDir().c_str(), 0711), 0);  // the other user may pass through
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      bool ok = setgid(65534) == 0 && setuid(65534) == 0 && access(folder.c_str(), W_OK) != 0;
      _exit(ok && save() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  } else {
    EXPECT_TRUE(save());
  }
  chmod(folder.c_str(), 0755);
  EXPECT_EQ(ReadFile(Ini()),
            "# install\r\nResetType=0\r\nLang=0\r\nComPort=COM8\r\nComRate=115200\r\n"
            "Protocol=NMEA\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

// A folder the operator cannot write to (an install by an administrator): the settings go to
// the user's folder, unless a file there was opened up for the operator. The operator is another
// user when the tests run as root.
TEST_F(DataModule, AReadOnlyExecutableFolderSendsTheSettingsToTheUsersFolder) {
  const std::string user = folder + "config/zv8810-fwu/";
  const std::string install = folder + "install/";
  fs::create_directories(install);
  struct {
    const char* name;
    int fileMode;  // 0: no file
    bool beside;
  } cases[] = {
      {"no file", 0, false},
      {"a file the operator may write", 0666, true},
      {"a read-only file", 0444, false},
  };
  for (const auto& c : cases) {
    fs::remove(install + "ZV8810_FWU.ini");
    if (c.fileMode != 0) {
      WriteFile(install + "ZV8810_FWU.ini", "ResetType=1\r\nLang=0\r\n");
      ASSERT_EQ(chmod((install + "ZV8810_FWU.ini").c_str(), static_cast<mode_t>(c.fileMode)), 0);
    }
    ASSERT_EQ(chmod(install.c_str(), 0555), 0);
    const std::string expected = c.beside ? install : user;
    auto chosen = [&] { return SettingsFolderFor(install, "ZV8810_FWU.ini", user) == expected; };
    if (geteuid() == 0) {
      ASSERT_EQ(chmod(TempDir().c_str(), 0711), 0);  // the other user may pass through
      pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) _exit(setgid(65534) == 0 && setuid(65534) == 0 && chosen() ? 0 : 1);
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.name;
    } else {
      EXPECT_TRUE(chosen()) << c.name;
    }
    ASSERT_EQ(chmod(install.c_str(), 0755), 0);
  }
}
#endif

TEST_F(DataModule, SystemFileImageAndSums) {
  // CR LF and Ctrl+Z: bytes that a text-mode read would change or stop at on Windows.
  WriteFile(folder + "three.bin", "\x0D\x0A\x1A");
  TImagesLoad load = dm.LoadImages(folder + "three.bin", true);
  ASSERT_TRUE(load.Images);
  EXPECT_EQ(load.Images->SystemImage,
            (std::vector<std::uint8_t>{3, 0, 0, 0, 49, 0, 0, 0, 13, 10, 26}));
  EXPECT_EQ(load.Images->SystemImageSum, 101u);
  EXPECT_EQ(load.Images->ResidentSize, 17504u);
  std::string big(300000, '\xFF');
  WriteFile(folder + "big.bin", big);
  std::vector<std::uint8_t> image;
  std::uint32_t sum = 0;
  std::string refusal;
  ASSERT_EQ(ReadSystemFile(folder + "big.bin", image, sum, refusal), TSystemFileLoad::Loaded);
  EXPECT_EQ(sum, 300000u * 255u + ByteSum(image.data(), 8));
  EXPECT_TRUE(refusal.empty());
  // A versions inquiry needs no file; a programming run needs a path.
  load = dm.LoadImages("", false);
  ASSERT_TRUE(load.Images);
  EXPECT_TRUE(load.Images->SystemImage.empty());
  load = dm.LoadImages("", true);
  EXPECT_FALSE(load.Images);
  EXPECT_FALSE(load.PathGiven);
  EXPECT_TRUE(sink.texts.empty()) << "loading shows nothing: the refusal comes back";
}

TEST_F(DataModule, SystemFileRefusalsSayWhyAndKeepTheImage) {
  WriteFile(folder + "ok.bin", "\x05");
  std::vector<std::uint8_t> image;
  std::uint32_t sum = 0;
  std::string refusal;
  ASSERT_EQ(ReadSystemFile(folder + "ok.bin", image, sum, refusal), TSystemFileLoad::Loaded);
  const std::vector<std::uint8_t> loaded = image;
  fs::create_directories(folder + "dir.bin");
  WriteFile(folder + "locked.bin", "x");
#ifdef _WIN32
  const bool root = true;  // a mode does not make a file unreadable on Windows
#else
  chmod((folder + "locked.bin").c_str(), 0);
  bool root = geteuid() == 0;
#endif
  WriteFile(folder + "empty.bin", "");
  struct {
    std::string file;
    bool russian;
    TSystemFileLoad why;
    std::string text;
  } cases[] = {
      {"missing.bin", false, TSystemFileLoad::NotFound,
       "File \"" + folder + "missing.bin\" not found!"},
      {"dir.bin", false, TSystemFileLoad::Folder,
       "\"" + folder + "dir.bin\" is a folder, not a system file!"},
      {"missing.bin", true, TSystemFileLoad::NotFound,
       "Файл \"" + folder + "missing.bin\" не найден!"},
      {"dir.bin", true, TSystemFileLoad::Folder,
       "\"" + folder + "dir.bin\" - это папка, а не файл системы!"},
      {"empty.bin", false, TSystemFileLoad::Empty, "The system file is empty"},
      {"empty.bin", true, TSystemFileLoad::Empty, "Файл системы пуст"},
      {"locked.bin", false, TSystemFileLoad::Unreadable,
       "Can`t open \"" + folder + "locked.bin\" !"},
  };
  for (const auto& c : cases) {
    if (c.why == TSystemFileLoad::Unreadable && root) continue;
    IsRussian = c.russian;
    EXPECT_EQ(ReadSystemFile(folder + c.file, image, sum, refusal), c.why) << c.file;
    EXPECT_EQ(refusal, c.text);
    TImagesLoad load = dm.LoadImages(folder + c.file, true);
    EXPECT_FALSE(load.Images) << c.file;
    EXPECT_EQ(load.SystemFile, c.why) << c.file;
    EXPECT_EQ(load.Refusal, c.text);
  }
  IsRussian = false;
  EXPECT_EQ(image, loaded);
  EXPECT_TRUE(sink.texts.empty());
}

TEST_F(DataModule, FileOf4GiBIsRefusedNotTruncated) {
  std::string path = folder + "huge.bin";
  { std::ofstream(path, std::ios::binary); }
  fs::resize_file(path, 0x100000000ull);  // sparse: takes no disk
  TImagesLoad load = dm.LoadImages(path, true);
  EXPECT_FALSE(load.Images);
  EXPECT_EQ(load.SystemFile, TSystemFileLoad::TooLarge);
  EXPECT_NE(load.Refusal.find("too large (4 GiB or more)"), std::string::npos);
  fs::remove(path);
}

TEST_F(DataModule, ResidentResource) {
  TJobImages images;
  if (ReadResident(images)) {
    EXPECT_EQ(images.ResidentSize, 17504u);
    EXPECT_EQ(images.ResidentSum,
              ByteSum(images.ResidentImage.data(), images.ResidentImage.size()));
  } else {
    EXPECT_EQ(images.ResidentSize, 0u) << "without the resource nothing is loaded";
  }
}

TEST_F(DataModule, DescriptionTable) {
  const std::string block = Block("ZV8810", "1", "05", "Nov 26 2009", "14:02:33", "release build");
  const std::string full =
      "File: \"f.bin\"\r\nDevice Id: ZV8810\r\nVersion Id: 1.05\r\nDate/Time: Nov 26 2009 "
      "14:02:33\r\nComment: release build";
  struct {
    const char* name;
    std::string content;
    std::string text;
  } cases[] = {
      {"block at the start", block + "tail", full},
      {"marker 93 bytes before the end", "xyz" + block, full},
      {"marker 92 bytes before the end", "xyz" + block.substr(0, 92), "No data"},
      {"four = in a row", "=" + block, "No data"},
      {"another byte before the marker", "A" + block, full},
      {"only seven marker characters", "=== Dev" + std::string(200, 'x'), "No data"},
      {"many = and no marker", std::string(500, '='), "No data"},
      {"empty comment", Block("ABC", "2", "1", "Jun 05 2009", "0:1", ""),
       "File: \"f.bin\"\r\nDevice Id: ABC\r\nVersion Id: 2.1\r\nDate/Time: Jun 05 2009 0:1"},
      {"full-width fields",
       Block("ABCDEF", "123", "456", "Sep 17 2009x", "123456789", std::string(30, 'c')),
       "File: \"f.bin\"\r\nDevice Id: ABCDEF\r\nVersion Id: 123.456\r\nDate/Time: Sep 17 2009x "
       "123456789\r\nComment: " +
           std::string(30, 'c')},
  };
  for (auto& c : cases) {
    WriteFile(folder + "f.bin", c.content);
    EXPECT_EQ(dm.GetFileDescription(folder + "f.bin"), c.text) << c.name;
  }
  EXPECT_EQ(dm.GetFileDescription(""), "No data");
  EXPECT_EQ(dm.GetFileDescription(folder + "missing.bin"), "No data");
  IsRussian = true;
  EXPECT_EQ(dm.GetFileDescription(folder), "Нет данных");
  EXPECT_TRUE(sink.texts.empty());
}

TEST(BuildDate, MonthsAndDates) {
  struct {
    const char* text;
    int month;
  } months[] = {{" Feb ", 2}, {"February", 0}, {"DEC", 12}, {"", 0}};
  for (auto& m : months) EXPECT_EQ(MonthNumber(m.text), m.month) << m.text;
  struct {
    const char* text;
    const char* date;
  } dates[] = {{"Jun 05 2009", "05/06/09"}, {"Sep 17 2009", "17/09/09"},
               {"Nov 26 09", "26/11/09"},   {"Nov 6 2009", "06/11/09"},
               {"Xyz 01 2010", "01/00/10"}, {"Nov  6 2009", "0/11/6 2009"}};
  for (auto& d : dates) EXPECT_EQ(FormatBuildDate(d.text), d.date) << d.text;
}

TEST(FindTextSearch, SinglePassWithoutSteppingBack) {
  auto find = [](const std::string& bytes, const std::string& text) {
    return FindText(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), text);
  };
  EXPECT_EQ(find("x=== Device ID", DescriptionMarker), 1);
  EXPECT_EQ(find("==== Device ID", DescriptionMarker), -1);
  EXPECT_EQ(find("ab=== Device IDcd=== Device ID", DescriptionMarker), 2);
  EXPECT_EQ(find("KuvrKuvreth", "Kuvreth"), -1) << "the K that broke the match is not retried";
  EXPECT_EQ(find("Kuvr.Kuvreth", "Kuvreth"), 5);
}

TEST_F(DataModule, ResultTextsInBothLanguages) {
  struct {
    std::int32_t code;
    const char* english;
    const char* russian;
  } cases[] = {{0, "Error", "Ошибка"},
               {1, "Execution is successfully completed", "Выполнение успешно завершено"},
               {2, "Error at connecting", "Ошибка: Нет ответа загрузчика"},
               {3, "Error at inicialization", "Ошибка: Ошибка при загрузке резидента"},
               {4, "Error at flash erasing", "Ошибка: Ошибка стирания flash памяти"},
               {5, "Error at programming", "Ошибка: Ошибка записи системы"},
               {6, "Unknown error", "Ошибка: Нет значения"},
               {-1, "Unknown error", "Ошибка: Нет значения"}};
  for (auto& c : cases) {
    IsRussian = false;
    EXPECT_EQ(dm.ResultText(c.code), c.english);
    IsRussian = true;
    EXPECT_EQ(dm.ResultText(c.code), c.russian);
  }
}

TEST_F(DataModule, DescribeCommand) {
  WriteFile(folder + "fw.bin",
            "head" + Block("ZV8810", "3", "07", "Nov 26 2009", "10:00:00", "demo"));
  TRunResult r = RunCli({"describe", folder + "fw.bin"});
  EXPECT_EQ(r.Exit, 0);
  EXPECT_EQ(r.Out,
            "File: \"fw.bin\"\nDevice Id: ZV8810\nVersion Id: 3.07\nDate/Time: Nov 26 2009 "
            "10:00:00\nComment: demo\n");
  WriteFile(folder + "plain.bin", "nothing here");
  TRunResult ru = RunCli({"describe", folder + "plain.bin", "--lang", "ru"});
  EXPECT_EQ(ru.Exit, 0);
  EXPECT_EQ(ru.Out, "Нет данных\n");
  TRunResult missing = RunCli({"describe", folder + "missing.bin"});
  EXPECT_EQ(missing.Exit, 66);
  EXPECT_EQ(missing.Err, "File \"" + folder + "missing.bin\" not found!\n");
}

// Files × checks: only a block that names this receiver (and the expected version) is writable.
TEST(SystemFileCheck, FilesAgainstTheChecks) {
  IsRussian = false;
  const std::string good = Block("ZV8810", "3", "09", "Dec 10 2026", "10:00:00", "");
  std::string random(5000, '\0');
  for (std::size_t i = 0; i < random.size(); ++i) random[i] = static_cast<char>(i * 131 + 7);
  struct {
    const char* name;
    std::string content;
    std::string expect;
    TFileVerdict verdict;
  } cases[] = {
      {"this receiver's file", "code" + good + "code", "", TFileVerdict::Writable},
      {"the expected version", good, "3.09", TFileVerdict::Writable},
      {"another version than expected", good, "3.08", TFileVerdict::OtherVersion},
      {"another device", Block("QX4400", "3", "09", "", "", ""), "", TFileVerdict::OtherDevice},
      {"another device, expected version", Block("QX4400", "3", "09", "", "", ""), "3.09",
       TFileVerdict::OtherDevice},
      {"a device id that only starts alike", Block("ZV881", "3", "09", "", "", ""), "",
       TFileVerdict::OtherDevice},
      {"random bytes", random, "", TFileVerdict::NoDescription},
      {"a text file", "firmware notes\nversion 3.09\n", "", TFileVerdict::NoDescription},
      {"a block cut off by the end", "xyz" + good.substr(0, 92), "", TFileVerdict::NoDescription},
  };
  for (auto& c : cases) {
    const std::vector<std::uint8_t> bytes(c.content.begin(), c.content.end());
    const TSystemFileFacts facts = SystemFileFacts("g.dat", bytes);
    const TFileCheck check = CheckSystemFile(facts, c.expect);
    EXPECT_EQ(check.Verdict, c.verdict) << c.name;
    EXPECT_EQ(check.Reason.empty(), c.verdict == TFileVerdict::Writable) << c.name;
    if (c.verdict != TFileVerdict::Writable) {
      EXPECT_NE(check.Reason.find("\"g.dat\""), std::string::npos) << c.name << check.Reason;
    }
  }
  // The reason names what was found.
  const std::string other = Block("QX4400", "1", "00", "", "", "");
  const auto facts =
      SystemFileFacts("x.bin", std::vector<std::uint8_t>(other.begin(), other.end()));
  EXPECT_EQ(CheckSystemFile(facts, "").Reason,
            "The file \"x.bin\" is for the device QX4400, not for ZV8810.");
  EXPECT_EQ(
      CheckSystemFile(SystemFileFacts("x.bin", std::vector<std::uint8_t>(good.begin(), good.end())),
                      "3.1")
          .Reason,
      "The file \"x.bin\" holds version 3.09, not 3.1.");
}

TEST(SystemFileCheck, FactsAndImage) {
  const std::vector<std::uint8_t> file = {1, 2, 3};
  const TSystemFileFacts facts = SystemFileFacts("f.bin", file);
  EXPECT_EQ(facts.Size, 3u);
  EXPECT_EQ(facts.Sum, 6u);
  EXPECT_FALSE(facts.Description.Present);
  EXPECT_EQ(SystemImageOfFile(file), (std::vector<std::uint8_t>{3, 0, 0, 0, 6, 0, 0, 0, 1, 2, 3}));
  EXPECT_EQ(SumText(0x2E78D7), "0x002E78D7");
  const std::string block = "  " + Block("ZV8810", "3 ", "09", "Nov 26 2009", "14:02:33", "ok");
  const TFileDescription d =
      ReadFileDescription(reinterpret_cast<const std::uint8_t*>(block.data()), block.size());
  EXPECT_TRUE(d.Present);
  EXPECT_EQ(d.Device, "ZV8810");
  EXPECT_EQ(d.Version, "3.09");  // blanks trimmed
  EXPECT_EQ(d.Date, "Nov 26 2009");
  EXPECT_EQ(d.Comment, "ok");
}
