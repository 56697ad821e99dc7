#pragma once
// A small read-only registry: the three calls the version window makes, over an
// in-memory table. On Linux the table holds what the desktop offers in place of the
// system's keys (the system-information program); tests fill it as they need.

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace sequora::platform {

using HKEY = std::uintptr_t;
using LONG = std::int32_t;
using DWORD = std::uint32_t;

inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_MORE_DATA = 234;

/// Opens subKey (backslash-separated, case-insensitive) below root. A key exists when a
/// value is stored in it or in a key below it. The access mask is accepted as given;
/// the table cannot be written anyway. Names are in the system code page.
LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, DWORD samDesired, HKEY* result);

/// Reads the value valueName of an open key: its type into *type, its bytes into data
/// (at most *dataSize bytes; *dataSize receives the length). Strings are stored with
/// their terminating NUL unless a test stored them without one. ERROR_MORE_DATA when
/// the value does not fit, ERROR_FILE_NOT_FOUND when there is no such value.
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type,
                      unsigned char* data, DWORD* dataSize);

/// Closes a handle from RegOpenKeyExA. ERROR_INVALID_HANDLE for anything else.
LONG RegCloseKey(HKEY key);

/// The table behind the calls. Until a test changes it, it is filled on first use
/// from the desktop: SOFTWARE\Microsoft\Shared Tools\MSINFO\PATH names the first of
/// hardinfo, kinfocenter, gnome-system-monitor found on PATH, or is absent.
namespace registry {

/// Empties the table (no keys at all).
void clear();
/// Drops every change and fills the table from the desktop again.
void restoreDefaults();
/// Stores a value of any type as raw bytes; creates the key as needed.
void setValue(HKEY root, const QString& key, const QString& name, DWORD type,
              const QByteArray& data);
/// Stores a REG_SZ value with its terminating NUL.
void setString(HKEY root, const QString& key, const QString& name, const QString& text);
/// Stores a REG_DWORD value (four bytes, little-endian).
void setDword(HKEY root, const QString& key, const QString& name, DWORD number);
/// Removes a key with its values and every key below it.
void removeKey(HKEY root, const QString& key);
/// How many handles are open now: a caller that forgets RegCloseKey shows up here.
int openHandleCount();

} // namespace registry

} // namespace sequora::platform
