// The Win32 host layer: names Windows cannot hold or would take for another, paths, file output
// with times and attributes, the archive's sharing, and the console's fallbacks to pipes.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/AbsolutePath.h"
#include "platform/DirectoryHandle.h"
#include "platform/FileWriter.h"
#include "platform/HostNames.h"
#include "platform/OutputFolders.h"
#include "platform/PipeKeySource.h"
#include "platform/ReadOnlyFile.h"
#include "platform/win32/ConsoleKeySource.h"
#include "platform/win32/ConsoleStream.h"
#include "platform/win32/Win32Host.h"

namespace sorvel {
namespace {

using win32::narrow;
using win32::wide;

// A fresh folder below the temporary folder, removed with its content afterwards.
class Win32Folder : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH + 1];
    ASSERT_GT(GetTempPathW(MAX_PATH + 1, temp), 0u);
    for (unsigned serial = GetTickCount(); root_.empty(); ++serial) {
      const std::wstring candidate = std::wstring(temp) + L"sorvel-host-" + std::to_wstring(serial);
      if (CreateDirectoryW(candidate.c_str(), nullptr)) root_ = candidate;
      ASSERT_EQ(root_.empty() ? GetLastError() : DWORD{ERROR_ALREADY_EXISTS}, DWORD{ERROR_ALREADY_EXISTS});
    }
  }
  void TearDown() override { removeAll(root_); }

  static void removeAll(const std::wstring& path) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring child = path + L"\\" + name;
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
          removeAll(child);
        } else {
          DeleteFileW(child.c_str());
        }
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
  }

  std::string path(const std::wstring& relative = L"") const {
    return narrow(relative.empty() ? root_ : root_ + L"\\" + relative);
  }
  std::vector<std::wstring> names() const {
    std::vector<std::wstring> result;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((root_ + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return result;
    do {
      if (std::wstring(found.cFileName) != L"." && std::wstring(found.cFileName) != L"..") {
        result.push_back(found.cFileName);
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return result;
  }
  static std::string content(const std::string& file) {
    HANDLE handle = CreateFileW(wide(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes(4096, '\0');
    DWORD got = 0;
    ReadFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(handle);
    bytes.resize(got);
    return bytes;
  }

  std::wstring root_;
};

std::int64_t unixSeconds(const FILETIME& time) {
  const std::uint64_t ticks = (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
  return static_cast<std::int64_t>(ticks / 10'000'000) - 11'644'473'600;
}

TEST(HostNames, RefusesWhatWindowsCannotHold) {
  struct Case {
    const char16_t* name;
    bool refused;
  };
  const Case cases[] = {
      {u"...", true},
      {u"a.", true},
      {u"a ", true},
      {u"a<b", true},
      {u"a>b", true},
      {u"a:b", true},
      {u"a\"b", true},
      {u"a|b", true},
      {u"a?b", true},
      {u"a*b", true},
      {u"a\x01"
       u"b",
       true},
      {u"a\x1F", true},
      {u"CON", true},
      {u"con.txt", true},
      {u"Nul.tar.gz", true},
      {u"aux", true},
      {u"PRN.", true},
      {u"COM1", true},
      {u"lpt9.log", true},
      {u"Com5.x", true},
      {u"COM0", false},
      {u"LPT10", false},
      {u"CONSOLE", false},
      {u"xCON", false},
      {u".hidden", false},
      {u"a.b", false},
      {u" lead", false},
      {u"café ñandú.txt", false},
      {u"emoji_\U0001F600", false},
      // Superscript digits count as port numbers; the console's own names; blanks before the
      // extension are dropped when Windows looks for a device.
      {u"COM\u00B9", true},
      {u"com\u00B2.txt", true},
      {u"LPT\u00B3", true},
      {u"lpt\u00B9.log", true},
      {u"CONIN$", true},
      {u"conout$.txt", true},
      {u"CON .txt", true},
      {u"aux  .tar.gz", true},
      {u"LPT1 .x", true},
      {u"COM\u2074", false},
      {u"LPT\u00B9x", false},
      {u"CONIN", false},
      {u"CON x.txt", false},
      {u" CON.txt", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hostNameRefusal(c.name).has_value(), c.refused) << narrow(reinterpret_cast<const wchar_t*>(c.name));
  }
}

TEST(HostNames, NamesEqualIgnoringCaseCollideInTheirFolderOnly) {
  WrittenNames written;
  written.note(u"", u"äpfel.txt");
  written.note(u"\\Sub", u"Readme");
  EXPECT_EQ(written.collision(u"", u"Äpfel.txt"), "same name as äpfel.txt");
  EXPECT_EQ(written.collision(u"", u"ÄPFEL.TXT"), "same name as äpfel.txt");
  EXPECT_EQ(written.collision(u"", u"äpfel.txt"), std::nullopt);  // the same name again replaces it
  EXPECT_EQ(written.collision(u"\\Sub", u"README"), "same name as Readme");
  EXPECT_EQ(written.collision(u"\\sub", u"README"), "same name as Readme");  // the folder compares so too
  EXPECT_EQ(written.collision(u"\\Other", u"README"), std::nullopt);
  EXPECT_EQ(written.collision(u"", u"apfel.txt"), std::nullopt);
  written.clear();
  EXPECT_EQ(written.collision(u"", u"Äpfel.txt"), std::nullopt);
}

TEST(AbsolutePath, FoldsDotsAndUsesBackslashes) {
  int error = 0;
  EXPECT_EQ(makeAbsolute("C:\\x\\.\\y\\..\\z", error), "C:\\x\\z");
  EXPECT_EQ(makeAbsolute("C:/x/y/", error), "C:\\x\\y\\");
  EXPECT_EQ(absoluteAgainst("b\\..\\c", "C:\\base"), "C:\\base\\c");
  EXPECT_EQ(absoluteAgainst("D:\\d", "C:\\base"), "D:\\d");

  wchar_t current[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, current), 0u);
  EXPECT_EQ(makeAbsolute("sub\\file", error),
            narrow(current) + (narrow(current).ends_with("\\") ? "" : "\\") + "sub\\file");
  EXPECT_EQ(makeAbsolute("", error), "");
}

TEST_F(Win32Folder, WritesContentTimesAndReadOnlyAttribute) {
  DirectoryHandle folder;
  ASSERT_TRUE(folder.open(path()));
  std::optional<FileWriter> file = FileWriter::createIn(folder, "é.txt");
  ASSERT_TRUE(file.has_value()) << errno;
  ASSERT_TRUE(file->write(reinterpret_cast<const std::uint8_t*>("line\n"), 5));
  ASSERT_TRUE(file->extendTo(8));
  file->setCreationTime(1000000000);
  constexpr std::int64_t kAccessed = 1510471575;
  constexpr std::int64_t kModified = 1228372313;
  ASSERT_TRUE(file->commit(kAccessed, kModified, {.readOnly = true, .archive = true}));

  // Looked at before it is read, which may set the access time.
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW((root_ + L"\\é.txt").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(unixSeconds(data.ftLastWriteTime), kModified);
  EXPECT_EQ(unixSeconds(data.ftLastAccessTime), kAccessed);
  EXPECT_NE(data.dwFileAttributes & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(content(path(L"é.txt")), std::string("line\n\0\0\0", 8));
  EXPECT_EQ(names(), std::vector<std::wstring>{L"é.txt"});  // no temporary file left
}

TEST_F(Win32Folder, ReplacesAFileButRefusesReadOnlyFilesAndFolders) {
  DirectoryHandle folder;
  ASSERT_TRUE(folder.open(path()));
  auto writeNew = [&](const std::string& name, const char* text) {
    std::optional<FileWriter> file = FileWriter::createIn(folder, name);
    if (!file || !file->write(reinterpret_cast<const std::uint8_t*>(text), std::strlen(text))) return -1;
    return file->commit(0, 0, {}) ? 0 : file->error();
  };
  ASSERT_EQ(writeNew("a", "old"), 0);
  EXPECT_EQ(writeNew("a", "new"), 0);
  EXPECT_EQ(content(path(L"a")), "new");

  ASSERT_TRUE(SetFileAttributesW((root_ + L"\\a").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(writeNew("a", "other"), EACCES);
  EXPECT_EQ(content(path(L"a")), "new");

  ASSERT_TRUE(CreateDirectoryW((root_ + L"\\d").c_str(), nullptr));
  EXPECT_EQ(writeNew("d", "x"), EISDIR);

  std::vector<std::wstring> left = names();
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::wstring>{L"a", L"d"}));  // no temporary file left by the refusals
}

// Told to replace read-only files, the writer replaces the name and nothing else: a file outside
// that the name is a hard link of keeps its read-only attribute and its content.
TEST_F(Win32Folder, ReplacingAReadOnlyFileLeavesItsOtherNamesAsTheyWere) {
  DirectoryHandle folder;
  ASSERT_TRUE(CreateDirectoryW((root_ + L"\\out").c_str(), nullptr));
  ASSERT_TRUE(folder.open(path(L"out")));
  auto replace = [&](const std::string& name, const char* text) {
    std::optional<FileWriter> file = FileWriter::createIn(folder, name);
    if (!file || !file->write(reinterpret_cast<const std::uint8_t*>(text), std::strlen(text))) return -1;
    file->setExistingFiles(ExistingFiles::ReplaceAll);
    return file->commit(0, 0, {}) ? 0 : file->error();
  };
  auto writeReadOnly = [&](const std::wstring& relative, const char* text) {
    HANDLE file = CreateFileW((root_ + L"\\" + relative).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_READONLY, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr));
    CloseHandle(file);
  };
  writeReadOnly(L"out\\plain", "old");
  EXPECT_EQ(replace("plain", "new"), 0);
  EXPECT_EQ(content(path(L"out\\plain")), "new");
  EXPECT_EQ(GetFileAttributesW((root_ + L"\\out\\plain").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);

  writeReadOnly(L"outside", "outside");
  ASSERT_TRUE(CreateHardLinkW((root_ + L"\\out\\linked").c_str(), (root_ + L"\\outside").c_str(), nullptr));
  EXPECT_EQ(replace("linked", "new"), 0);
  EXPECT_EQ(content(path(L"out\\linked")), "new");
  EXPECT_EQ(content(path(L"outside")), "outside");
  EXPECT_NE(GetFileAttributesW((root_ + L"\\outside").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);

  ASSERT_TRUE(CreateDirectoryW((root_ + L"\\out\\d").c_str(), nullptr));
  EXPECT_EQ(replace("d", "x"), EISDIR);
}

TEST_F(Win32Folder, AbandonedFileLeavesNothing) {
  DirectoryHandle folder;
  ASSERT_TRUE(folder.open(path()));
  {
    std::optional<FileWriter> file = FileWriter::createIn(folder, "gone");
    ASSERT_TRUE(file.has_value());
    ASSERT_TRUE(file->write(reinterpret_cast<const std::uint8_t*>("x"), 1));
    EXPECT_FALSE(file->temporaryPath().empty());
  }
  EXPECT_TRUE(names().empty());
}

TEST_F(Win32Folder, FoldersReachedOneNameAtATimeAndHeldAgainstRenaming) {
  OutputFolders folders;
  OutputFolders::Failure failure;
  ASSERT_TRUE(folders.openBase(path(L"out"), /*create=*/true, failure)) << failure.error;
  const DirectoryHandle* sub = folders.reach({"a", "b"}, /*makeLast=*/false, failure);
  EXPECT_EQ(sub, nullptr);  // "a" is not there, and nothing is made on the way
  ASSERT_NE(folders.reach({"a"}, true, failure), nullptr) << failure.error;
  sub = folders.reach({"a", "b"}, true, failure);
  ASSERT_NE(sub, nullptr) << failure.error;
  // Held in the \\?\ form, so that deep trees are not limited to MAX_PATH.
  EXPECT_TRUE(sub->location().starts_with("\\\\?\\")) << sub->location();
  EXPECT_TRUE(sub->location().ends_with("\\out\\a\\b")) << sub->location();
  // An open folder cannot be renamed away under the run.
  EXPECT_FALSE(MoveFileExW((root_ + L"\\out\\a").c_str(), (root_ + L"\\moved").c_str(), 0));

  ASSERT_TRUE(
      CloseHandle(CreateFileW((root_ + L"\\out\\f").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)));
  EXPECT_EQ(folders.reach({"f", "x"}, true, failure), nullptr);
  EXPECT_NE(failure.error, 0);
}

TEST_F(Win32Folder, FilesDeeperThanMaxPathAreWritten) {
  OutputFolders folders;
  OutputFolders::Failure failure;
  ASSERT_TRUE(folders.openBase(path(), false, failure)) << failure.error;
  std::vector<std::string> names;
  const DirectoryHandle* folder = nullptr;
  for (int depth = 0; depth < 24; ++depth) {  // 24 names of 16 characters: beyond MAX_PATH
    names.push_back("folder-level-" + std::to_string(100 + depth));
    folder = folders.reach(names, /*makeLast=*/true, failure);
    ASSERT_NE(folder, nullptr) << failure.error << " at depth " << depth;
  }
  ASSERT_GT(folder->location().size(), std::size_t{MAX_PATH});
  std::optional<FileWriter> file = FileWriter::createIn(*folder, "deep.txt");
  ASSERT_TRUE(file.has_value()) << errno;
  ASSERT_TRUE(file->write(reinterpret_cast<const std::uint8_t*>("deep"), 4));
  ASSERT_TRUE(file->commit(0, 0, {})) << file->error();
  EXPECT_EQ(content(folder->location() + "\\deep.txt"), "deep");
}

TEST_F(Win32Folder, ArchiveIsReadSharedButNotWritable) {
  const std::wstring file = root_ + L"\\archive.sva";
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(handle, "0123456789", 10, &written, nullptr));
  CloseHandle(handle);

  ReadOnlyFile archive;
  ASSERT_TRUE(archive.open(narrow(file)));
  EXPECT_EQ(archive.size(), 10u);
  std::uint8_t bytes[8] = {};
  EXPECT_EQ(archive.readAt(6, bytes, sizeof bytes), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 4), "6789");
  HANDLE reader = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  CloseHandle(reader);
  HANDLE writer =
      CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);

  EXPECT_FALSE(archive.open(path()));  // a folder is not an archive
}

// A pipe with its two ends.
struct Pipe {
  Pipe() { EXPECT_TRUE(CreatePipe(&read, &write, nullptr, 1 << 16)); }
  ~Pipe() {
    if (read != nullptr) CloseHandle(read);
    if (write != nullptr) CloseHandle(write);
  }
  void closeWrite() { CloseHandle(std::exchange(write, nullptr)); }
  std::string drain() {
    closeWrite();
    std::string bytes;
    char chunk[256];
    DWORD got = 0;
    while (ReadFile(read, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    return bytes;
  }
  HANDLE read = nullptr;
  HANDLE write = nullptr;
};

TEST(ConsoleFallback, TextToAPipeIsTheSameUtf8WithoutCarriageReturns) {
  Pipe pipe;
  {
    win32::ConsoleStream stream(pipe.write);
    EXPECT_FALSE(stream.isConsole());
    stream << "Input  : Z:\\tmp\\caf\xC3\xA9\n"
           << "\xF0\x9F\x98\x80" << '\n';
    stream.flush();
  }
  EXPECT_EQ(pipe.drain(), "Input  : Z:\\tmp\\caf\xC3\xA9\n\xF0\x9F\x98\x80\n");
}

TEST(ConsoleFallback, PasswordFromAPipeEndsAtTheFirstLineOrTheEnd) {
  Pipe pipe;
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(pipe.write, "p\xC3\xA9\r\nrest", 9, &written, nullptr));
  pipe.closeWrite();
  PipeKeySource keys(win32::fromHandle(pipe.read));
  EXPECT_EQ(keys.next(), KeyEvent::character(u'p'));
  EXPECT_EQ(keys.next(), KeyEvent::character(u'é'));
  EXPECT_EQ(keys.next(), KeyEvent::enter());
  EXPECT_EQ(keys.next(), KeyEvent::enter());  // "\n" of "\r\n"
  for (char16_t unit : std::u16string(u"rest")) EXPECT_EQ(keys.next(), KeyEvent::character(unit));
  EXPECT_EQ(keys.next(), KeyEvent::enter());  // the end of the input
  EXPECT_EQ(keys.next(), KeyEvent::enter());
}

TEST(ConsoleKeys, KeyRecordsBecomeKeyEvents) {
  auto key = [](WORD virtualKey, wchar_t unit, BOOL down = TRUE) {
    KEY_EVENT_RECORD record{};
    record.bKeyDown = down;
    record.wRepeatCount = 1;
    record.wVirtualKeyCode = virtualKey;
    record.uChar.UnicodeChar = unit;
    return record;
  };
  EXPECT_EQ(win32::ConsoleKeySource::translate(key(VK_RETURN, L'\r')), KeyEvent::enter());
  EXPECT_EQ(win32::ConsoleKeySource::translate(key(VK_BACK, L'\b')), KeyEvent::backspace());
  EXPECT_EQ(win32::ConsoleKeySource::translate(key('A', L'a')), KeyEvent::character(u'a'));
  EXPECT_EQ(win32::ConsoleKeySource::translate(key(0, L'\xE0')), KeyEvent::character(u'\xE0'));
  EXPECT_EQ(win32::ConsoleKeySource::translate(key('A', L'a', FALSE)), std::nullopt);  // key released
  EXPECT_EQ(win32::ConsoleKeySource::translate(key(VK_LEFT, 0)), std::nullopt);
  EXPECT_EQ(win32::ConsoleKeySource::translate(key(VK_SHIFT, 0)), std::nullopt);
  EXPECT_EQ(win32::ConsoleKeySource::translate(key(VK_F1, 0)), std::nullopt);
}

}  // namespace
}  // namespace sorvel
