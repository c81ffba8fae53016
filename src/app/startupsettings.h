#pragma once

#include <QString>

// The per-user store: application "Varnet", section "STARTUP". On Linux an
// INI file under the XDG config dir, on Windows the user's registry.
namespace StartupSettings {

inline constexpr char KeyPrinter[] = "Drucker";
inline constexpr char KeyIp[] = "IP";
inline constexpr char KeyOpt[] = "Opt";

// The empty text when the key was never written.
QString read(const char *key);
// False when the store could not be written.
bool write(const char *key, const QString &value);

} // namespace StartupSettings
