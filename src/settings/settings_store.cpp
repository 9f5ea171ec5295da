#include "settings/settings_store.h"

#include <QLocale>
#include <QSettings>
#include <QStandardPaths>
#include <cmath>
#include <limits>
#include <optional>

#include "platform/runtime_error.h"

namespace vellumax {

namespace {

constexpr char kApplicationKey[] = "Corvantis";
constexpr char kSection[] = "Vellumax";

std::optional<double> NumberIn(const QString& text) {
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

QString SettingsFilePath() {
    // Built anew on every call, so the store follows XDG_CONFIG_HOME as it is now.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + '/' +
           kApplicationKey + '/' + kSection + ".conf";
}

QString ReadSetting(const QString& key, const QString& defaultValue) {
    QSettings store(SettingsFilePath(), QSettings::IniFormat);
    store.beginGroup(kSection);
    const QVariant value = store.value(key);
    return value.isValid() ? value.toString() : defaultValue;
}

void WriteSetting(const QString& key, const QString& value) {
    QSettings store(SettingsFilePath(), QSettings::IniFormat);
    store.beginGroup(kSection);
    store.setValue(key, value);
    store.sync();
    if (store.status() != QSettings::NoError) {
        throw RuntimeError(75, "Path/File access error");
    }
}

bool SettingToBoolean(const QString& text) {
    const QString word = text.trimmed();
    if (word.compare("True", Qt::CaseInsensitive) == 0) {
        return true;
    }
    if (word.compare("False", Qt::CaseInsensitive) == 0) {
        return false;
    }
    const auto number = NumberIn(word);
    if (!number) {
        throw TypeMismatch();
    }
    return *number != 0.0;
}

qint32 SettingToInteger32(const QString& text) {
    const auto number = NumberIn(text);
    if (!number) {
        throw TypeMismatch();
    }
    const double rounded = std::nearbyint(*number);  // the default rounding: half to even
    if (rounded < std::numeric_limits<qint32>::min() ||
        rounded > std::numeric_limits<qint32>::max()) {
        throw Overflow();
    }
    return static_cast<qint32>(rounded);
}

QString BooleanSetting(bool value) {
    return value ? "True" : "False";
}

}  // namespace vellumax
