#include "test_support.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include "filelist/file_list.h"
#include "platform/path_helpers.h"

namespace vellumax::testing {

namespace {
constexpr char kVariable[] = "XDG_CONFIG_HOME";

QString StoreFile(const QString& configHome) {
    return configHome + "/Corvantis/Vellumax.conf";
}
}  // namespace

TemporaryConfig::TemporaryConfig()
    : previous_(qgetenv(kVariable)), hadPrevious_(qEnvironmentVariableIsSet(kVariable)) {
    qputenv(kVariable, QFile::encodeName(folder_.path()));
}

TemporaryConfig::~TemporaryConfig() {
    if (hadPrevious_) {
        qputenv(kVariable, previous_);
    } else {
        qunsetenv(kVariable);
    }
}

std::optional<QString> TemporaryConfig::Stored(const QString& key) const {
    QSettings store(StoreFile(path()), QSettings::IniFormat);
    const QVariant value = store.value("Vellumax/" + key);
    if (!value.isValid()) {
        return std::nullopt;
    }
    return value.toString();
}

void TemporaryConfig::Store(const QString& key, const QString& value) const {
    QSettings store(StoreFile(path()), QSettings::IniFormat);
    store.setValue("Vellumax/" + key, value);
    store.sync();
    ASSERT_EQ(store.status(), QSettings::NoError);
}

QString SharedTestData() {
    return qEnvironmentVariable("VELLUMAX_TESTDATA", VELLUMAX_SHARED_TESTDATA);
}

QStringList Texts(const FileList& list) {
    QStringList texts;
    for (int position = 1; position <= list.Count(); ++position) {
        texts << list.Text(position);
    }
    return texts;
}

void MakeFile(const QString& path, const QByteArray& content) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path())) << path.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(file.write(content), content.size());
}

std::string Native(const QString& path) {
    return NativePath(path).toStdString();
}

}  // namespace vellumax::testing
