#pragma once
// libsorvel: read sorvel archives from programs without extracting them.
//
// Open an archive with its password, look at its facts and items, read a file's content as a
// stream (only the blocks asked for are read and decrypted), extract all of it or chosen items
// into a folder, or test it. The items and their facts are what the sorvel tool lists and
// extracts: an item the tool leaves out is listed here as left out, with the same reason.
//
// Errors: no call throws. A failure is a Status with a code equal to the exit code the sorvel
// tool ends with for the same failure and the message it prints; a call that gives a value
// returns a Result holding either the value or the failure.
//
// Threads: an Archive's const calls may be made from any number of threads at once; open(),
// extract() and test() are made from one thread at a time. A Stream is used by one thread at a
// time, but any number of streams of one archive may be read on as many threads, and readAt()
// of one stream is safe from several threads. Streams keep what they read from alive: they may
// outlive the Archive they came from.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#if defined(_WIN32)
#define SORVEL_API
#define SORVEL_INTERNAL
#else
#define SORVEL_API __attribute__((visibility("default")))
#define SORVEL_INTERNAL __attribute__((visibility("hidden")))  // the library's own, not for users
#endif

namespace sorvel::api {

// The library's version, "major.minor.patch".
SORVEL_API const char* version();

// Failure codes: each is the exit code the sorvel tool ends with for the failure.
enum class ErrorCode : int {
  Success = 0,
  InvalidArgument = 1,  // a call was given something it cannot take (a bad seek, a null buffer)
  NotFound = 2,         // no such item, or the password file cannot be read
  ArchiveMissing = 3,   // the archive cannot be opened (no such file, not a regular file)
  NotAnArchive = 6,     // the file is no archive ("archive format error")
  UnknownVersion = 7,   // an archive of a version this library does not read
  UnsupportedAuth = 8,  // an archive whose authentication type is not supported
  WrongPassword = 9,    // the password does not fit
  CannotOpen = 10,      // the password fits but the archive's tables are damaged
  DamagedItems = 11,    // items were damaged or not written; also: the work was cancelled
};

struct SORVEL_API Status {
  ErrorCode code = ErrorCode::Success;
  std::string message;     // as the sorvel tool prints it; empty on success
  bool cancelled = false;  // DamagedItems because a progress callback asked to stop

  bool ok() const { return code == ErrorCode::Success; }
  explicit operator bool() const { return ok(); }
};

// A value or the failure that kept it from being made.
template <typename T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}            // NOLINT: a value converts to its result
  Result(Status failure) : status_(std::move(failure)) {}  // NOLINT: so does a failure
  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  const Status& status() const { return status_; }
  T& value() { return *value_; }
  const T& value() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }

 private:
  std::optional<T> value_;
  Status status_;
};

// The password an archive is opened with. Its bytes are wiped when it is destroyed, and open()
// keeps none of them once the keys are made.
class SORVEL_API Password {
 public:
  Password();  // none: for an archive that asks for none
  ~Password();
  Password(Password&& other) noexcept;
  Password& operator=(Password&& other) noexcept;
  Password(const Password&) = delete;
  Password& operator=(const Password&) = delete;

  // Text, UTF-8: normalised (NFKC) as the programs normalise a typed password.
  static Password text(std::string_view utf8);
  // Bytes used as they are, as key material.
  static Password bytes(const void* data, std::size_t size);
  // The first line of a file, read when the archive is opened, as `sorvel --password-file`.
  static Password file(std::string path);
  // Asked for when the archive is opened, only if it needs a password.
  static Password ask(std::function<Password()> callback);

  struct Impl;
  const Impl& impl() const { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

// The archive as a whole.
struct ArchiveFacts {
  std::uint64_t fileSize = 0;        // the archive file's size in bytes
  std::uint32_t keyBlockCipher = 0;  // cipher codes: 1 AES-CFB, 2 Blowfish, 3 AES-XTS
  std::uint32_t dataCipher = 0;
  std::string keyBlockCipherName;  // "AES-CFB", "Blowfish", "AES-XTS", "none"
  std::string dataCipherName;
  bool passwordProtected = false;
  std::uint64_t blockSize = 0;   // bytes per data block
  std::uint64_t blockCount = 0;  // entries of the chain table
  std::uint64_t usedBlocks = 0;  // of them, those in a chain
  std::uint64_t itemCount = 0;   // items(), the root not counted
  std::uint64_t fileCount = 0;
  std::uint64_t folderCount = 0;
  std::uint64_t totalFileBytes = 0;  // the recorded sizes of every file
};

enum class ItemKind : std::uint8_t {
  File,
  Folder,
  Unknown,  // an item the archive names but whose entry could not be placed (always left out)
};

// Attribute bits of ItemInfo::attributes.
inline constexpr std::uint8_t kReadOnly = 0x01;
inline constexpr std::uint8_t kHidden = 0x02;
inline constexpr std::uint8_t kSystem = 0x04;
inline constexpr std::uint8_t kArchiveBit = 0x20;

struct ItemInfo {
  std::string path;  // UTF-8, names joined by "/", no leading "/": "docs/readme.txt"
  ItemKind kind = ItemKind::File;
  std::uint64_t size = 0;          // the recorded size (0 for folders)
  std::uint64_t outputSize = 0;    // what extraction writes and a stream holds (see damaged)
  std::uint64_t readableSize = 0;  // of the content, the bytes the archive holds
  std::int64_t created = 0;        // seconds since 1970-01-01 UTC
  std::int64_t modified = 0;
  std::int64_t accessed = 0;
  std::uint8_t attributes = 0;  // kReadOnly, kHidden, kSystem, kArchiveBit
  bool damaged = false;         // a file whose content ends early (the rest written as zeros),
                                // or a folder whose directory is damaged
  std::string damage;           // why a damaged file's content ends early
  bool leftOut = false;         // not extracted, not readable
  std::string leftOutReason;    // why, as extraction reports it

  bool isFolder() const { return kind == ItemKind::Folder; }
  bool readOnly() const { return (attributes & kReadOnly) != 0; }
};

// Where a seek counts from.
enum class Whence { Begin, Current, End };

// A file item's content: the bytes extraction writes, read on demand. Reads of a damaged file's
// content past what the archive holds fail with DamagedItems ("Error: damaged item: <path>").
class SORVEL_API Stream {
 public:
  ~Stream();
  Stream(Stream&& other) noexcept;
  Stream& operator=(Stream&& other) noexcept;
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  std::uint64_t size() const;
  std::uint64_t tell() const;
  // The new position (which may lie past the end); InvalidArgument before the start.
  Result<std::uint64_t> seek(std::int64_t offset, Whence whence = Whence::Begin);
  // Up to `length` bytes from the position, which moves on by what was read; 0 at the end.
  Result<std::size_t> read(void* out, std::size_t length);
  // The same at `offset`, the position unchanged; safe from several threads.
  Result<std::size_t> readAt(std::uint64_t offset, void* out, std::size_t length) const;

  struct Impl;
  SORVEL_INTERNAL explicit Stream(std::unique_ptr<Impl> impl);

 private:
  std::unique_ptr<Impl> impl_;
};

// Where a long piece of work is; the callback answers false to stop it.
struct Progress {
  std::uint64_t itemsDone = 0;
  std::uint64_t itemsTotal = 0;
  std::uint64_t bytesDone = 0;
  std::uint64_t bytesTotal = 0;
  std::string_view currentItem;  // UTF-8, "/" between names; valid during the call
};
// Called on the thread that started the work, or on a thread writing files for it; never two
// calls at once.
using ProgressCallback = std::function<bool(const Progress& progress)>;
// A line on an item that was not written or is damaged, as the sorvel tool prints it.
using ProblemCallback = std::function<void(std::string_view line)>;

enum class ExistingFiles {
  ReplaceWritable,  // an existing file is replaced unless it is read-only (the tool's default)
  ReplaceAll,       // replaced even then (`sorvel extract --overwrite`)
  Keep,             // kept, and the item reported as not extracted (`--keep`)
};

struct ExtractOptions {
  // The items to extract, each with everything below it, by path as ItemInfo gives it; empty:
  // the whole archive. Each lands at its full path below the output folder.
  std::vector<std::string> items;
  // Items chosen as `sorvel extract` chooses its operands, joining `items`: a path holding '*'
  // (any run of characters), '?' (one character) or "[...]" (one of a set; "[*]" is '*' itself)
  // chooses every item whose whole path it matches, with everything below it. A pattern (or an
  // item) that chooses nothing fails the call with NotFound before anything is written.
  std::vector<std::string> patterns;
  // Items left out with everything below them (`sorvel extract --exclude`): a pattern matches the
  // end of a path, as many names as it holds, or the whole path when it begins with "/".
  std::vector<std::string> exclude;
  // Whether '*', '?' and sets match "/" too (`--wildcards-match-slash`), in patterns and excludes.
  bool wildcardsMatchSlash = false;
  ExistingFiles existing = ExistingFiles::ReplaceWritable;
  bool folderTimes = true;  // folders get the archive's times
  ProgressCallback progress;
  ProblemCallback problem;
};

// What testing found.
struct TestReport {
  std::uint64_t files = 0;
  std::uint64_t folders = 0;
  std::uint64_t bytes = 0;            // content read
  std::vector<std::string> problems;  // one line per damaged or unreadable item, in listing order
  std::string firstDamaged;           // the path of the first item with a problem, or empty
};

class SORVEL_API Archive {
 public:
  // Opens the archive at `path`, or a duplicate of the open descriptor `fd` (the caller keeps
  // its own), checks the password and reads the archive's tables. Failures: ArchiveMissing,
  // NotAnArchive, UnknownVersion, UnsupportedAuth, WrongPassword, CannotOpen, NotFound (a
  // password file that cannot be read).
  static Result<Archive> open(const std::string& path, const Password& password);
  static Result<Archive> openDescriptor(int fd, const Password& password);

  ~Archive();
  Archive(Archive&& other) noexcept;
  Archive& operator=(Archive&& other) noexcept;
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;

  const ArchiveFacts& facts() const;
  // Every item below the root in listing order: a folder before what it holds, names in the
  // archive's order; items the archive stores for its own use are not listed.
  const std::vector<ItemInfo>& items() const;
  // The item at `path` ("docs/readme.txt"; "\" also separates, a leading "/" is ignored, A-Z
  // match either case as the tool matches them), or null.
  const ItemInfo* find(std::string_view path) const;
  // The content of the file item at `path`. NotFound for a missing item or a folder,
  // DamagedItems for an item that is left out or whose content cannot be read.
  Result<Stream> openFile(std::string_view path) const;

  // Extracts into `folder` (made when missing), as `sorvel extract` does, each chosen item once,
  // in listing order. NotFound when an item or pattern chooses nothing (a line for each in the
  // message, as the tool prints them). DamagedItems when an item was not written or is damaged
  // (each told to options.problem), and when the progress callback stopped the work
  // (`cancelled`); no partly written file is left behind then.
  Status extract(const std::string& folder, const ExtractOptions& options = {});
  // Reads every file's content as extraction would, writing nothing: the report's problems are
  // the lines `sorvel test` prints. Fails (DamagedItems, `cancelled`) only when the progress
  // callback stopped the work.
  Result<TestReport> test(const ProgressCallback& progress = {});

  struct Impl;

 private:
  SORVEL_INTERNAL explicit Archive(std::shared_ptr<Impl> impl);
  std::shared_ptr<Impl> impl_;
};

}  // namespace sorvel::api
