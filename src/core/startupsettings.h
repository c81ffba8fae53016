#pragma once

#include <QList>
#include <QString>

#include <utility>

// The per-user store: application "Varnet", section "STARTUP". On Linux an
// INI file under the XDG config dir, on Windows the user's registry.
namespace StartupSettings {

inline constexpr char KeyPrinter[] = "Drucker";
inline constexpr char KeyIp[] = "IP";
inline constexpr char KeyOpt[] = "Opt";

// The empty text when the key was never written.
QString read(const char *key);
// Writes the keys together. Empty when they were saved, else a sentence
// for the user naming the store and why it could not be written.
QString save(const QList<std::pair<const char *, QString>> &values);

} // namespace StartupSettings
