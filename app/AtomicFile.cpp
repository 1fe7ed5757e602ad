#include "app/FilePath.h"
#include "app/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#else
#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace app {
namespace {

std::string Failure(const char* what, const std::filesystem::path& path, int error) {
  return std::string(what) + " " + Utf8FromPath(path) + ": " + std::system_category().message(error);
}

// A name no other writer uses at the same time: the process id and a counter of this process.
std::filesystem::path TemporaryBeside(const std::filesystem::path& path) {
  static std::atomic<unsigned> counter{0};
#ifdef _WIN32
  const unsigned long process = GetCurrentProcessId();
#else
  const long process = ::getpid();
#endif
  std::filesystem::path temporary = path;
  temporary += ".tmp-" + std::to_string(process) + "-" + std::to_string(++counter);
  return temporary;
}

#ifdef _WIN32
std::string AppendToFile(const std::filesystem::path& path, std::string_view text) {
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Failure("cannot open", path, static_cast<int>(GetLastError()));
  DWORD written = 0, error = 0;
  if (!WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) error = GetLastError();
  if (error == 0 && written != text.size()) error = ERROR_WRITE_FAULT;
  if (error == 0 && !FlushFileBuffers(file)) error = GetLastError();
  if (!CloseHandle(file) && error == 0) error = GetLastError();
  return error == 0 ? std::string() : Failure("cannot write", path, static_cast<int>(error));
}

std::string WriteTemporary(const std::filesystem::path& temporary, std::span<const std::uint8_t> bytes, FileReaders) {
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Failure("cannot create", temporary, static_cast<int>(GetLastError()));
  std::size_t done = 0;
  DWORD error = 0;
  while (done < bytes.size() && error == 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr)) error = GetLastError();
    done += written;
  }
  if (error == 0 && !FlushFileBuffers(file)) error = GetLastError();
  if (!CloseHandle(file) && error == 0) error = GetLastError();
  if (error != 0) {
    DeleteFileW(temporary.c_str());
    return Failure("cannot write", temporary, static_cast<int>(error));
  }
  return {};
}

std::string Publish(const std::filesystem::path& temporary, const std::filesystem::path& path, ExistingFile existing) {
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (existing == ExistingFile::Replace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (MoveFileExW(temporary.c_str(), path.c_str(), flags)) return {};
  const int error = static_cast<int>(GetLastError());
  DeleteFileW(temporary.c_str());
  return Failure(existing == ExistingFile::Keep ? "cannot create (it may exist already)" : "cannot replace", path,
                 error);
}
#else
std::string AppendToFile(const std::filesystem::path& path, std::string_view text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return Failure("cannot open", path, errno);
  int error = 0;
  for (std::size_t done = 0; done < text.size() && error == 0;) {
    const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
    if (written < 0 && errno != EINTR) error = errno;
    if (written > 0) done += static_cast<std::size_t>(written);
  }
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  return error == 0 ? std::string() : Failure("cannot write", path, error);
}

// The file is created with O_EXCL, and the user's umask applies as for any file the user creates, unless
// everyone is to read it.
std::string WriteTemporary(const std::filesystem::path& temporary, std::span<const std::uint8_t> bytes,
                           FileReaders readers) {
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return Failure("cannot create", temporary, errno);
  int error = 0;
  if (readers == FileReaders::Everyone && ::fchmod(fd, 0644) != 0) error = errno;
  for (std::size_t done = 0; done < bytes.size() && error == 0;) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno != EINTR) error = errno;
    if (written > 0) done += static_cast<std::size_t>(written);
  }
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    return Failure("cannot write", temporary, error);
  }
  return {};
}

// Gives the temporary file the target's name without ever replacing a file: link() fails when the target
// exists (also where letter case is ignored, which a test for existence before a rename would miss). File
// systems without hard links (FAT, many network shares) get the same promise from renameat2.
bool PublishWithoutReplacing(const std::filesystem::path& temporary, const std::filesystem::path& path) {
  if (::link(temporary.c_str(), path.c_str()) == 0) {
    ::unlink(temporary.c_str());
    return true;
  }
  if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return false;
  return ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0;
}

std::string Publish(const std::filesystem::path& temporary, const std::filesystem::path& path, ExistingFile existing) {
  const bool done = existing == ExistingFile::Replace ? ::rename(temporary.c_str(), path.c_str()) == 0
                                                      : PublishWithoutReplacing(temporary, path);
  if (done) return {};
  const int error = errno;
  ::unlink(temporary.c_str());
  return Failure(existing == ExistingFile::Keep && error == EEXIST ? "will not replace" : "cannot create", path,
                 error);
}
#endif

}  // namespace

std::string WriteFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                                ExistingFile existing, FileReaders readers) {
  const std::filesystem::path temporary = TemporaryBeside(path);
  if (std::string failure = WriteTemporary(temporary, bytes, readers); !failure.empty()) return failure;
  return Publish(temporary, path, existing);
}

std::string WriteFileAtomically(const std::filesystem::path& path, std::string_view text, ExistingFile existing,
                                FileReaders readers) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  return WriteFileAtomically(path, std::span<const std::uint8_t>(bytes, text.size()), existing, readers);
}

std::string AppendDurably(const std::filesystem::path& path, std::string_view text) { return AppendToFile(path, text); }

}  // namespace app
