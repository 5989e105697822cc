#include "qtcore/QtSettingsStore.h"

#include "app/SettingsLayout.h"
#include "qtcore/QtText.h"

#include <QStringList>

#include <algorithm>

namespace {

// A key path of the store ("DecodeSettings\CD") as a QSettings group ("DecodeSettings/CD").
QString Group(const std::string& key)
{
    return ToQString(key).replace('\\', '/');
}

QString ValueKey(const std::string& key, const std::string& name)
{
    return Group(key) + '/' + ToQString(name);
}

} // namespace

TQtSettingsStore::TQtSettingsStore()
    : FSettings(settings::kOrganization, settings::kApplication),
      FHostPlayer(settings::kHostPlayerOrganization, settings::kHostPlayerApplication)
{}

bool TQtSettingsStore::KeyExists(const std::string& key) const
{
    const QString group = Group(key);
    const qsizetype slash = group.lastIndexOf('/');
    FSettings.beginGroup(slash < 0 ? QString() : group.left(slash));
    const bool exists = FSettings.childGroups().contains(slash < 0 ? group : group.mid(slash + 1));
    FSettings.endGroup();
    return exists;
}

std::vector<std::string> TQtSettingsStore::SubKeys(const std::string& key) const
{
    FSettings.beginGroup(Group(key));
    QStringList names = FSettings.childGroups();
    FSettings.endGroup();
    // As the registry enumerates keys: by name, letter case ignored.
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    std::vector<std::string> result;
    for (const QString& name : names)
        result.push_back(FromQString(name));
    return result;
}

std::optional<std::string> TQtSettingsStore::ReadString(const std::string& key,
                                                        const std::string& name) const
{
    const QString path = ValueKey(key, name);
    if (!FSettings.contains(path))
        return std::nullopt;
    return FromQString(FSettings.value(path).toString());
}

std::optional<uint32_t> TQtSettingsStore::ReadInteger(const std::string& key,
                                                      const std::string& name) const
{
    const QString path = ValueKey(key, name);
    if (!FSettings.contains(path))
        return std::nullopt;
    bool ok = false;
    const qlonglong value = FSettings.value(path).toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    // Kept as the 32 bits they were stored as: a negative number is its two's complement.
    return static_cast<uint32_t>(value);
}

void TQtSettingsStore::WriteString(const std::string& key, const std::string& name,
                                   const std::string& value)
{
    FSettings.setValue(ValueKey(key, name), ToQString(value));
}

void TQtSettingsStore::WriteInteger(const std::string& key, const std::string& name, uint32_t value)
{
    // Written as a signed number, as every release has written it.
    FSettings.setValue(ValueKey(key, name), static_cast<int32_t>(value));
}

void TQtSettingsStore::DeleteKey(const std::string& key)
{
    FSettings.remove(Group(key));
}

void TQtSettingsStore::Flush()
{
    FSettings.sync();
}

std::optional<std::string> TQtSettingsStore::HostPlayerExecutable() const
{
    const QString path = QString::fromLatin1(settings::kHostPlayerSearchPathKey) + '/' +
                         QString::fromLatin1(settings::kHostPlayerValue);
    if (!FHostPlayer.contains(path))
        return std::nullopt;
    return FromQString(FHostPlayer.value(path).toString());
}
