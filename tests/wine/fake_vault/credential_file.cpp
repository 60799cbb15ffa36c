#include "credential_file.hpp"

#include "com_support.hpp"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <utility>

namespace lupirane::fake_vault {
namespace {

void encode_field(std::wstring_view field, std::string& out) {
  if (field.empty()) {
    out.push_back('-');
    return;
  }
  constexpr char digits[] = "0123456789abcdef";
  for (const wchar_t unit : field) {
    const auto value = static_cast<unsigned>(unit);
    for (int shift = 12; shift >= 0; shift -= 4) out.push_back(digits[(value >> shift) & 0xFu]);
  }
}

int hex_digit(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::wstring> decode_field(std::string_view field) {
  if (field == "-") return std::wstring();
  if (field.empty() || field.size() % 4 != 0) return std::nullopt;
  std::wstring out;
  for (std::size_t i = 0; i < field.size(); i += 4) {
    unsigned unit = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const int digit = hex_digit(field[i + k]);
      if (digit < 0) return std::nullopt;
      unit = unit * 16 + static_cast<unsigned>(digit);
    }
    out.push_back(static_cast<wchar_t>(unit));
  }
  return out;
}

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) noexcept : handle_(handle) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() { close(); }
  [[nodiscard]] HANDLE get() const noexcept { return handle_; }
  [[nodiscard]] bool valid() const noexcept { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void close() noexcept {
    if (valid()) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_;
};

HRESULT last_error() noexcept { return HRESULT_FROM_WIN32(GetLastError()); }

HRESULT load_file(const std::wstring& path, std::vector<StoredCredential>& credentials) {
  credentials.clear();
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return S_OK;
    return HRESULT_FROM_WIN32(error);
  }
  std::string text;
  char buffer[4096];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) return last_error();
    if (read == 0) break;
    text.append(buffer, read);
  }
  auto decoded = decode_credentials(text);
  if (!decoded) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  credentials = std::move(*decoded);
  return S_OK;
}

HRESULT save_file(const std::wstring& path, const std::vector<StoredCredential>& credentials) {
  // A name of its own per writer, then one rename: readers see the old or the new file whole.
  static std::atomic<unsigned> serial{0};
  const std::wstring temporary =
      path + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(serial.fetch_add(1));
  const std::string text = encode_credentials(credentials);
  {
    FileHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file.valid()) return last_error();
    std::size_t done = 0;
    while (done < text.size()) {
      DWORD written = 0;
      const auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1u << 20));
      if (!WriteFile(file.get(), text.data() + done, chunk, &written, nullptr) || written == 0) {
        const HRESULT result = last_error();
        file.close();
        DeleteFileW(temporary.c_str());
        return result;
      }
      done += written;
    }
  }
  if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    const HRESULT result = last_error();
    DeleteFileW(temporary.c_str());
    return result;
  }
  return S_OK;
}

struct Storage {
  // An unset or empty variable keeps the credentials in this process.
  Storage() {
    if (auto variable = environment_variable(L"LUPIRANE_FAKE_VAULT_FILE")) path = std::move(*variable);
    if (path.empty()) return;
    // Object names may not hold backslashes, so the path goes in as a hash.
    unsigned long long hash = 14695981039346656037ull;
    for (const wchar_t unit : path) {
      hash ^= static_cast<unsigned>(unit);
      hash *= 1099511628211ull;
    }
    constexpr wchar_t digits[] = L"0123456789abcdef";
    mutex_name = L"lupirane-fake-vault-";
    for (int shift = 60; shift >= 0; shift -= 4) mutex_name.push_back(digits[(hash >> shift) & 0xFu]);
  }

  std::wstring path;
  std::wstring mutex_name;
  std::vector<StoredCredential> in_memory;
  std::mutex lock;
};

Storage& storage() {
  static Storage instance;
  return instance;
}

// Serialises access within this process and, for a file, with every other process using it.
class StorageLock {
 public:
  explicit StorageLock(Storage& store) : local_(store.lock) {
    if (store.path.empty()) return;
    mutex_ = CreateMutexW(nullptr, FALSE, store.mutex_name.c_str());
    // WAIT_ABANDONED still hands over ownership; the file itself is always whole.
    if (mutex_ != nullptr) WaitForSingleObject(mutex_, INFINITE);
  }
  StorageLock(const StorageLock&) = delete;
  StorageLock& operator=(const StorageLock&) = delete;
  ~StorageLock() {
    if (mutex_ == nullptr) return;
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
  }

 private:
  std::lock_guard<std::mutex> local_;
  HANDLE mutex_ = nullptr;
};

HRESULT load(Storage& store, std::vector<StoredCredential>& credentials) {
  if (store.path.empty()) {
    credentials = store.in_memory;
    return S_OK;
  }
  return load_file(store.path, credentials);
}

}  // namespace

std::string encode_credentials(const std::vector<StoredCredential>& credentials) {
  std::string out;
  for (const StoredCredential& credential : credentials) {
    encode_field(credential.resource, out);
    out.push_back(' ');
    encode_field(credential.user_name, out);
    out.push_back(' ');
    encode_field(credential.password, out);
    out.push_back('\n');
  }
  return out;
}

std::optional<std::vector<StoredCredential>> decode_credentials(std::string_view text) {
  std::vector<StoredCredential> credentials;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty()) continue;
    const std::size_t first = line.find(' ');
    if (first == std::string_view::npos) return std::nullopt;
    const std::size_t second = line.find(' ', first + 1);
    if (second == std::string_view::npos) return std::nullopt;
    auto resource = decode_field(line.substr(0, first));
    auto user_name = decode_field(line.substr(first + 1, second - first - 1));
    auto password = decode_field(line.substr(second + 1));
    if (!resource || !user_name || !password) return std::nullopt;
    credentials.push_back({std::move(*resource), std::move(*user_name), std::move(*password)});
  }
  return credentials;
}

HRESULT read_credentials(std::vector<StoredCredential>& credentials) noexcept {
  Storage& store = storage();
  StorageLock lock(store);
  return load(store, credentials);
}

HRESULT update_credentials(const std::function<HRESULT(std::vector<StoredCredential>&)>& change) noexcept {
  Storage& store = storage();
  StorageLock lock(store);
  std::vector<StoredCredential> credentials;
  if (const HRESULT loaded = load(store, credentials); FAILED(loaded)) return loaded;
  if (const HRESULT changed = change(credentials); FAILED(changed)) return changed;
  if (store.path.empty()) {
    store.in_memory = std::move(credentials);
    return S_OK;
  }
  return save_file(store.path, credentials);
}

}  // namespace lupirane::fake_vault
