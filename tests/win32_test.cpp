// What only Windows shows: the raw command line, the program path, the shell
// starting programs, backslash paths and drive-relative names, the TEMP
// fallback, text-mode line ends, devices, files held by another program,
// read-only files, the memory report and the resources of Orvane.exe.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>

#include <regex>
#include <string>
#include <vector>

#include "app/resource.h"
#include "lib/paths.h"
#include "lib/strings.h"
#include "log/log.h"
#include "orvane_version.h"
#include "platform/platform.h"
#include "tests/fixtures.h"
#include "tests/portable.h"
#include "tests/temp_folder.h"
#include "tests/texts.h"

namespace {

std::string ThisProgram() {
  char path[MAX_PATH];
  GetModuleFileNameA(NULL, path, MAX_PATH);
  return path;
}

std::string Beside(const std::string &name) {
  std::string self = ThisProgram();
  return self.substr(0, self.find_last_of('\\') + 1) + name;
}

// Runs a raw command line as Windows gives it to a program; the exit code.
DWORD RunRaw(const std::string &line) {
  std::vector<char> writable(line.begin(), line.end());
  writable.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(NULL, writable.data(), NULL, NULL, FALSE, 0, NULL, NULL,
                      &startup, &process))
    return (DWORD)-1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = (DWORD)-1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return code;
}

TEST(WindowsCommandLine, ReachesTheTokenizerUntouched) {
  TempFolder folder;
  std::string out = folder.Path("words.txt");
  ScopedEnv env;
  env.Set("ORVANE_ECHO_FILE", out);
  // The C runtime would split these differently: "" inside quotes, a
  // backslash before a quote, a tab.
  std::string line = "\"" + Beside("echo_command_line.exe") +
                     "\" -r 90 \"my photo.jpg\" a\"\"b \"say \"\"hi\"\"\" "
                     "back\\\"slash \"\" -dbg=1\tlast";
  ASSERT_EQ(0u, RunRaw(line));
  EXPECT_EQ(line + "\n[-r]\n[90]\n[my photo.jpg]\n[a\"\"b]\n[say \"hi\"]\n"
                   "[back\\\"slash]\n[]\n[-dbg=1]\n[last]\n",
            ReadWholeFile(out));
}

TEST(WindowsProgramPath, IsTheFullPathOrCappedAtTheBuffer) {
  char path[512];
  int n = PlatformProgramPath(path, sizeof path);
  ASSERT_GT(n, 3);
  EXPECT_EQ(ThisProgram(), path);
  EXPECT_EQ(':', path[1]);
  EXPECT_EQ('\\', path[2]);
  char small[8];
  EXPECT_EQ(8, PlatformProgramPath(small, sizeof small));  // cut short
}

TEST(WindowsRunAndWait, GivesTheExitCodeOrMinusOne) {
  EXPECT_EQ(3, RunAndWait("cmd.exe", "/c exit 3", SW_HIDE));
  EXPECT_EQ(0, RunAndWait("cmd.exe", "/c exit 0", SW_HIDE));
  EXPECT_EQ(7, RunAndWait("cmd.exe", "/c if \"a b\"==\"a b\" exit 7", SW_HIDE));
  EXPECT_EQ(-1, RunAndWait("no-such-program-anywhere.exe", "", SW_HIDE));
}

TEST(WindowsPaths, JoinAndCreateWithBackslashes) {
  EXPECT_EQ("C:\\photos\\a.jpg", Own(PathJoin("C:\\photos", "a.jpg")));
  EXPECT_EQ("C:\\a.jpg", Own(PathJoin("C:\\", "a.jpg")));
  EXPECT_EQ("C:\\p\\q.bmp", Own(ChangeExtension("C:\\p\\q.jpg", ".bmp")));
  TempFolder folder;
  std::string deep = folder.path() + "\\a\\b\\c";
  EXPECT_EQ(1, MakeFolders(deep.c_str()));
  EXPECT_TRUE(IsFolder(folder.Path("a")));
  EXPECT_TRUE(IsFolder(deep));
  EXPECT_EQ(1, MakeFolders(deep.c_str()));  // already there
  EXPECT_EQ(0, MakeFolders("D:"));
}

TEST(WindowsTextMode, ReadAllTurnsCarriageReturnLineFeedIntoLineFeed) {
  TempFolder folder;
  std::string path = folder.Path("dos.txt");
  WriteWholeFile(path, "first\r\nsecond\r\n\r\nend");
  EXPECT_EQ("first\nsecond\n\nend", Own(ReadAll(path.c_str())));
  std::string copy = folder.Path("copy.txt");
  WriteWholeFile(path, "a\nb\n");
  CopyTextFile(path.c_str(), copy.c_str());
  EXPECT_EQ("a\r\nb\r\n", ReadWholeFile(copy));
}

// ---- Files and memory ----

// A device is refused by its type, and a file another program holds without
// sharing it is denied, not missing.
TEST(WindowsMapFile, RefusesDevicesAndFilesHeldByOthers) {
  TempFolder folder;
  std::string held = folder.Path("held.jpg");
  HANDLE holder = CreateFileA(held.c_str(), GENERIC_WRITE, 0, NULL,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  struct {
    std::string path;
    FileReadError error;
  } cases[] = {{"NUL", kFileNotPlain}, {held, kFileDenied}};
  for (const auto &c : cases) {
    MappedFile file;
    FileReadError error = kFileReadOk;
    EXPECT_EQ(0, PlatformMapFile(c.path.c_str(), &file, &error));
    EXPECT_EQ(c.error, error) << c.path;
    EXPECT_EQ(nullptr, file.data) << c.path;
  }
  CloseHandle(holder);
}

// The system's report needs its record's size filled in, or it says nothing.
TEST(WindowsAvailableMemory, IsWhatTheSystemReports) {
  uint64_t available = PlatformAvailableMemory();
  EXPECT_GT(available, 0u);
  EXPECT_LT(available, UINT64_MAX);
}

// ---- The log ----

TEST(LogInTemp, JoinsTempFolderAndNameOrFallsBackToCTemp) {
  TempFolder folder;
  ScopedEnv env;
  env.Set("TEMP", folder.path());
  EXPECT_EQ(folder.Path("Orvane.log"), LogInTemp("Orvane.log"));
  env.Set("TEMP", folder.path() + "\\");
  EXPECT_EQ(folder.Path("Orvane.log"), LogInTemp("Orvane.log"));
  env.Unset("TEMP");
  EXPECT_STREQ("C:\\temp\\Orvane.log", LogInTemp("Orvane.log"));
  LogSetPath(nullptr);
}

// Text mode: every line on disk ends in CR LF.
TEST_F(Log, LinesOnDiskEndInCarriageReturnAndLineFeed) {
  LogF("one");
  LogRawF("two");
  std::string bytes = ReadWholeFile(path_);
  EXPECT_TRUE(std::regex_match(
      bytes, std::regex("\\*\r\n\\* [^\r\n]+\r\n\\*\r\n"
                        "\\d{2}:\\d{2}:\\d{2} one\r\ntwo\r\n")))
      << bytes;
}

// ---- Safe saving ----

TEST_F(SafeSaving, ReadOnlyTargetsAreNotReplaced) {
  WriteWholeFile(target_, "keep me");
  ASSERT_TRUE(SetFileAttributesA(target_.c_str(), FILE_ATTRIBUTE_READONLY));
  SafeSave save;
  EXPECT_EQ(0, PlatformBeginSafeSave(target_.c_str(), &save));
  EXPECT_STREQ("The file is read-only.", save.reason);
  EXPECT_EQ("keep me", ReadWholeFile(target_));
  EXPECT_EQ(Texts{"photo.jpg"}, folder_.Names());
  SetFileAttributesA(target_.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(SafeSaving, DriveRelativeNamesKeepTheFreshFileBesideTheTarget) {
  // "C:photo.jpg" names a file in drive C's current folder.
  std::string drive = folder_.path().substr(0, 2);
  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(folder_.path().c_str()));
  std::string relative = drive + "photo.jpg";
  SafeSave save;
  ASSERT_EQ(1, PlatformBeginSafeSave(relative.c_str(), &save));
  WriteWholeFile(save.temp, "here");
  EXPECT_EQ(1, PlatformFinishSafeSave(&save));
  SetCurrentDirectoryA(previous);
  EXPECT_EQ("here", ReadWholeFile(target_));
  EXPECT_EQ(Texts{"photo.jpg"}, folder_.Names());
}

// ---- The resources of Orvane.exe ----

// The build names the program by its build machine's path; Wine shows that
// machine's root as drive Z:.
std::string OrvaneExe() {
  std::string path = ORVANE_EXE;
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  return path;
}

std::string VersionString(const std::vector<char> &block, const char *name) {
  std::string key = std::string("\\StringFileInfo\\080904b0\\") + name;
  char *value = NULL;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), key.c_str(), (void **)&value, &length) ||
      value == NULL)
    return "<missing>";
  return value;
}

TEST(WindowsResources, VersionBlockNamesMakerProgramAndVersion) {
  std::string exe = OrvaneExe();
  DWORD size = GetFileVersionInfoSizeA(exe.c_str(), NULL);
  ASSERT_GT(size, 0u) << exe;
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO *fixed = NULL;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", (void **)&fixed, &length));
  EXPECT_EQ(MAKELONG(ORVANE_VERSION_MINOR, ORVANE_VERSION_MAJOR),
            fixed->dwFileVersionMS);
  EXPECT_EQ(MAKELONG(0, ORVANE_VERSION_PATCH), fixed->dwFileVersionLS);
  EXPECT_EQ(MAKELONG(ORVANE_VERSION_MINOR, ORVANE_VERSION_MAJOR),
            fixed->dwProductVersionMS);
  EXPECT_EQ(MAKELONG(0, ORVANE_VERSION_PATCH), fixed->dwProductVersionLS);
  EXPECT_EQ("Tabrinel", VersionString(block, "CompanyName"));
  EXPECT_EQ("Orvane", VersionString(block, "ProductName"));
  EXPECT_EQ(ORVANE_FILE_VERSION, VersionString(block, "FileVersion"));
  EXPECT_EQ(ORVANE_FILE_VERSION, VersionString(block, "ProductVersion"));
  EXPECT_EQ("Orvane.exe", VersionString(block, "OriginalFilename"));
}

#pragma pack(push, 2)
struct IconGroupHeader {
  WORD reserved, type, count;
};
struct IconGroupEntry {
  BYTE width, height, colors, reserved;
  WORD planes, bit_count;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

TEST(WindowsResources, IconGroupHoldsNineSizesFrom16To256) {
  HMODULE module = LoadLibraryExA(
      OrvaneExe().c_str(), NULL,
      LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(nullptr, module);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDI_APPICON),
                              MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
  ASSERT_NE(nullptr, found);
  const IconGroupHeader *header =
      (const IconGroupHeader *)LockResource(LoadResource(module, found));
  ASSERT_NE(nullptr, header);
  ASSERT_EQ(9, header->count);
  const IconGroupEntry *entries = (const IconGroupEntry *)(header + 1);
  std::vector<int> sizes;
  for (int i = 0; i < header->count; i++) {
    sizes.push_back(entries[i].width == 0 ? 256 : entries[i].width);
    EXPECT_EQ(32, entries[i].bit_count);
    EXPECT_NE(nullptr, FindResourceA(module, MAKEINTRESOURCEA(entries[i].id),
                                     MAKEINTRESOURCEA(3)));  // RT_ICON
  }
  EXPECT_EQ((std::vector<int>{16, 20, 24, 32, 40, 48, 64, 128, 256}), sizes);
  FreeLibrary(module);
}

TEST(WindowsResources, ManifestAsksForNoElevation) {
  HMODULE module = LoadLibraryExA(
      OrvaneExe().c_str(), NULL,
      LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(nullptr, module);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1),
                              MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_NE(nullptr, found);
  std::string manifest((const char *)LockResource(LoadResource(module, found)),
                       SizeofResource(module, found));
  EXPECT_NE(std::string::npos, manifest.find("level=\"asInvoker\""));
  std::string version = std::string("version=\"") + ORVANE_FILE_VERSION + "\"";
  EXPECT_NE(std::string::npos, manifest.find(version));
  FreeLibrary(module);
}

TEST(WindowsResources, OrvaneIsAGraphicalProgram) {
  std::string image = ReadWholeFile(OrvaneExe());
  ASSERT_GT(image.size(), 0x200u);
  const IMAGE_DOS_HEADER *dos = (const IMAGE_DOS_HEADER *)image.data();
  const IMAGE_NT_HEADERS64 *nt =
      (const IMAGE_NT_HEADERS64 *)(image.data() + dos->e_lfanew);
  EXPECT_EQ(IMAGE_NT_SIGNATURE, nt->Signature);
  EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, nt->OptionalHeader.Subsystem);
}

}  // namespace
