#include "TranscriptionUI/PreferencesStore.h"

namespace tc {

PreferencesStore::PreferencesStore(QObject* parent) : QObject(parent), m_settings(std::make_unique<QSettings>()) {}

PreferencesStore::PreferencesStore(const QString& iniFile, QObject* parent)
    : QObject(parent), m_settings(std::make_unique<QSettings>(iniFile, QSettings::IniFormat))
{}

PreferencesStore::~PreferencesStore() = default;

bool PreferencesStore::boolValue(const QString& key, bool fallback) const
{
    const QVariant stored = m_settings->value(key);
    return stored.isValid() ? stored.toBool() : fallback;
}

void PreferencesStore::setBool(const QString& key, bool value)
{
    setValue(key, value);
}

double PreferencesStore::doubleValue(const QString& key, double fallback) const
{
    bool ok = false;
    const double stored = m_settings->value(key).toDouble(&ok);
    return ok ? stored : fallback;
}

void PreferencesStore::setDouble(const QString& key, double value)
{
    setValue(key, value);
}

QVariant PreferencesStore::value(const QString& key) const
{
    return m_settings->value(key);
}

void PreferencesStore::setValue(const QString& key, const QVariant& value)
{
    m_settings->setValue(key, value);
    Q_EMIT valueChanged(key);
}

bool PreferencesStore::contains(const QString& key) const
{
    return m_settings->contains(key);
}

void PreferencesStore::remove(const QString& key)
{
    m_settings->remove(key);
    Q_EMIT valueChanged(key);
}

void PreferencesStore::sync()
{
    m_settings->sync();
}

} // namespace tc
