// The per-user store of small text values, kept as files: the stand-in for
// the current user's registry hive.
//
// Layout: the store lives in RegistryStoreLocation() ($XDG_CONFIG_HOME, else
// $HOME/.config). A key path's components are directories below it, a value
// is a file in its key's directory holding the text's bytes (no terminating
// zero, no newline). The leading "Software" of a key path stands for the
// store itself, so "Software\Kestavin\IPTV", value "eth", is the file
// <store>/Kestavin/IPTV/eth. Key and value names compare case-insensitively
// (ASCII), as the registry's do: an existing "kestavin" directory is the key
// "Kestavin"; new keys are created with the spelling given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

enum class RegistryRoot { CurrentUser };

// The one value type the store keeps: a text.
inline constexpr uint32_t REG_SZ_TYPE = 1;
// A stored value longer than this fails to read.
inline constexpr uint32_t REGISTRY_READ_LIMIT = 256;

// One store operation at a time; made on the stack where it is needed.
class CRegistryValue {
 public:
  // The store in RegistryStoreLocation(), taken when the object is made.
  CRegistryValue();
  // The store in baseDir instead (tests).
  explicit CRegistryValue(std::string baseDir);
  virtual ~CRegistryValue();

  // 0 when the value was read into buffer (up to 256 bytes, zero-terminated
  // when shorter), 1 when not: missing key or value, unreadable, or longer
  // than 256 bytes. The buffer is left as it was on failure.
  int ReadString(RegistryRoot root, const char* keyPath, const char* valueName, char (&buffer)[256]);
  // Writes text as the value, creating the key chain when missing. The file
  // is replaced atomically (temporary file, fsync, rename), so a crash
  // leaves the old text or the new, never a torn one. False when nothing
  // was written; callers may ignore it.
  bool WriteString(RegistryRoot root, const char* keyPath, const char* valueName, const std::string& text);
  // The key's directory, made with its missing parents when it is not
  // there (an existing spelling is kept); nullopt when it cannot be had.
  std::optional<std::string> KeyDirectory(RegistryRoot root, const char* keyPath);

  // Set to text type and the 256-byte capacity at the start of every
  // operation; after a successful read m_dwSize holds the bytes read.
  uint32_t m_dwType = REG_SZ_TYPE;
  uint32_t m_dwSize = REGISTRY_READ_LIMIT;

 private:
  std::string m_base;
};

// The directory the store lives in: $XDG_CONFIG_HOME when it is an absolute
// path, else $HOME/.config (the home from the user database when HOME is
// unset). Empty when there is none; every operation then fails.
std::string RegistryStoreLocation();
