#pragma once

#include <QString>
#include <QtGlobal>

namespace vellumax {

// The per-user store: named strings under the application key "Corvantis" and the section
// "Vellumax", in $XDG_CONFIG_HOME/Corvantis/Vellumax.conf. Nothing is cached: every read
// goes to the file and every write is on disk before the call returns.
QString SettingsFilePath();

// The stored string, or `defaultValue` when the key is absent. Never fails.
QString ReadSetting(const QString& key, const QString& defaultValue = QString());

// Stores the string at once. Throws RuntimeError when the store refuses it.
void WriteSetting(const QString& key, const QString& value);

// Conversions of stored strings, as the readers apply them. Both throw RuntimeError:
// "Type mismatch" for text that is no Boolean or number, "Overflow" beyond 32 bits.
bool SettingToBoolean(const QString& text);      // "True"/"False" in any case; 0 / other number
qint32 SettingToInteger32(const QString& text);  // decimal text, rounded half to even
QString BooleanSetting(bool value);              // "True" or "False"

}  // namespace vellumax
