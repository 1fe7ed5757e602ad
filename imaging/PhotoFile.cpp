#include "imaging/PhotoFile.h"

#include <algorithm>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace imaging {
namespace {

std::function<void(const std::string&)>& ReadHook() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

void AfterRead(const std::string& path) {
  if (ReadHook()) ReadHook()(path);
}

#ifdef _WIN32

std::wstring WidePath(const std::string& utf8) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(size > 0 ? size : 0, L'\0');
  if (size > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

class OpenFile {
 public:
  explicit OpenFile(HANDLE handle) : handle_(handle) {}
  ~OpenFile() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// What must not change while the file is read: which file it is, its size and its last write.
struct Identity {
  BY_HANDLE_FILE_INFORMATION info{};
  std::uint64_t Size() const { return (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow; }
  bool operator==(const Identity& other) const {
    return info.dwVolumeSerialNumber == other.info.dwVolumeSerialNumber &&
           info.nFileIndexHigh == other.info.nFileIndexHigh && info.nFileIndexLow == other.info.nFileIndexLow &&
           Size() == other.Size() && CompareFileTime(&info.ftLastWriteTime, &other.info.ftLastWriteTime) == 0;
  }
};

bool IdentityOf(HANDLE handle, Identity& identity) {
  return GetFileInformationByHandle(handle, &identity.info) != 0;
}

PhotoFileRead OpenFailure() {
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PhotoFileRead::Missing
                                                                          : PhotoFileRead::Unreadable;
}

// Reads up to bytes.size() bytes; count is what was read before the end of the file.
bool ReadUpTo(HANDLE handle, std::vector<std::uint8_t>& bytes, std::size_t& count) {
  count = 0;
  while (count < bytes.size()) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - count, 1u << 30));
    if (!ReadFile(handle, bytes.data() + count, want, &got, nullptr)) return false;
    if (got == 0) break;
    count += got;
  }
  return true;
}

bool SameFileAtPath(const std::string& path, const Identity& read) {
  OpenFile again(CreateFileW(WidePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  Identity now;
  if (again.get() == INVALID_HANDLE_VALUE || !IdentityOf(again.get(), now)) return true;  // gone: nothing newer
  return now.info.dwVolumeSerialNumber == read.info.dwVolumeSerialNumber &&
         now.info.nFileIndexHigh == read.info.nFileIndexHigh && now.info.nFileIndexLow == read.info.nFileIndexLow;
}

PhotoFileRead ReadOpenFile(const std::string& path, HANDLE handle, std::vector<std::uint8_t>& bytes) {
  Identity before;
  if (!IdentityOf(handle, before)) return PhotoFileRead::Unreadable;
  if (before.info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return PhotoFileRead::Missing;
  if (before.Size() > kMaxPhotoFileBytes) return PhotoFileRead::TooLarge;
  bytes.assign(static_cast<std::size_t>(before.Size()) + 1, 0);  // one more: a file that grew shows it
  std::size_t count = 0;
  if (!ReadUpTo(handle, bytes, count)) return PhotoFileRead::Unreadable;
  bytes.resize(count);
  AfterRead(path);
  Identity after;
  if (!IdentityOf(handle, after)) return PhotoFileRead::Unreadable;
  if (count != before.Size() || !(after == before) || !SameFileAtPath(path, before)) return PhotoFileRead::Changed;
  return PhotoFileRead::Read;
}

#else

class OpenFile {
 public:
  explicit OpenFile(int fd) : fd_(fd) {}
  ~OpenFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Size and modification time with their nanoseconds, and the change time and inode: a file rewritten in
// place with bytes of the same length still gets a new modification and change time, a file put in the
// path's place (renamed over it) is another inode.
bool SameState(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Reads up to bytes.size() bytes; count is what was read before the end of the file.
bool ReadUpTo(int fd, std::vector<std::uint8_t>& bytes, std::size_t& count) {
  count = 0;
  while (count < bytes.size()) {
    const ssize_t got = ::read(fd, bytes.data() + count, bytes.size() - count);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    count += static_cast<std::size_t>(got);
  }
  return true;
}

// The path still names the file that was read (a file removed after reading left nothing newer).
bool SameFileAtPath(const std::string& path, const struct stat& read) {
  struct stat now;
  if (::stat(path.c_str(), &now) != 0) return true;
  return now.st_dev == read.st_dev && now.st_ino == read.st_ino;
}

PhotoFileRead ReadOpenFile(const std::string& path, int fd, std::vector<std::uint8_t>& bytes) {
  struct stat before;
  if (::fstat(fd, &before) != 0) return PhotoFileRead::Unreadable;
  if (!S_ISREG(before.st_mode)) return PhotoFileRead::Missing;
  if (static_cast<std::uint64_t>(before.st_size) > kMaxPhotoFileBytes) return PhotoFileRead::TooLarge;
  bytes.assign(static_cast<std::size_t>(before.st_size) + 1, 0);  // one more: a file that grew shows it
  std::size_t count = 0;
  if (!ReadUpTo(fd, bytes, count)) return PhotoFileRead::Unreadable;
  bytes.resize(count);
  AfterRead(path);
  struct stat after;
  if (::fstat(fd, &after) != 0) return PhotoFileRead::Unreadable;
  const bool whole = count == static_cast<std::size_t>(before.st_size);
  if (!whole || !SameState(before, after) || !SameFileAtPath(path, before)) return PhotoFileRead::Changed;
  return PhotoFileRead::Read;
}

#endif

}  // namespace

PhotoFileRead ReadPhotoFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  PhotoFileRead result;
#ifdef _WIN32
  // Backup semantics open a folder too, which is then refused as not a file.
  OpenFile file(CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return OpenFailure();
  result = ReadOpenFile(path, file.get(), bytes);
#else
  // Non-blocking: a FIFO put in a photo's place must not hang the open (it is refused as not a file).
  OpenFile file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (file.get() < 0)
    return errno == ENOENT || errno == ENOTDIR ? PhotoFileRead::Missing : PhotoFileRead::Unreadable;
  result = ReadOpenFile(path, file.get(), bytes);
#endif
  if (result != PhotoFileRead::Read) bytes.clear();
  return result;
}

void SetPhotoFileReadHookForTesting(std::function<void(const std::string& path)> hook) {
  ReadHook() = std::move(hook);
}

}  // namespace imaging
