#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>
#include <ostream>
#include <string>

// Lets GoogleTest show Qt strings in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& texts, std::ostream* out) {
    *out << '[' << texts.join("\", \"").prepend('"').append('"').toStdString() << ']';
}

namespace vellumax {
class FileList;
}

namespace vellumax::testing {

// Points XDG_CONFIG_HOME at a fresh folder for the life of the object, so each test starts
// with an empty settings store and never touches the user's own.
class TemporaryConfig {
public:
    TemporaryConfig();
    ~TemporaryConfig();
    TemporaryConfig(const TemporaryConfig&) = delete;
    TemporaryConfig& operator=(const TemporaryConfig&) = delete;

    QString path() const { return folder_.path(); }
    // A value as a second reader of the store sees it, or nothing when the key is absent.
    std::optional<QString> Stored(const QString& key) const;
    void Store(const QString& key, const QString& value) const;

private:
    QTemporaryDir folder_;
    QByteArray previous_;
    bool hadPrevious_;
};

// The team's shared test data: $VELLUMAX_TESTDATA, else the "shared/testdata" folder beside
// the repository. Tests that need it skip when it is absent.
QString SharedTestData();

// The texts of the list's entries, in order.
QStringList Texts(const FileList& list);

// Creates a file (and its folders) with the given content; fails the test if it cannot.
void MakeFile(const QString& path, const QByteArray& content = "x");

// A path as the document library takes it: the system's own bytes.
std::string Native(const QString& path);

}  // namespace vellumax::testing
