#include "TranscriptionUI/UserDefaults.h"

namespace tc {

UserDefaults::UserDefaults(QObject* parent) : QObject(parent), m_settings(std::make_unique<QSettings>()) {}

UserDefaults::UserDefaults(const QString& iniFile, QObject* parent)
    : QObject(parent), m_settings(std::make_unique<QSettings>(iniFile, QSettings::IniFormat))
{}

UserDefaults::~UserDefaults() = default;

bool UserDefaults::boolValue(const QString& key, bool fallback) const
{
    const QVariant stored = m_settings->value(key);
    return stored.isValid() ? stored.toBool() : fallback;
}

void UserDefaults::setBool(const QString& key, bool value)
{
    setValue(key, value);
}

double UserDefaults::doubleValue(const QString& key, double fallback) const
{
    bool ok = false;
    const double stored = m_settings->value(key).toDouble(&ok);
    return ok ? stored : fallback;
}

void UserDefaults::setDouble(const QString& key, double value)
{
    setValue(key, value);
}

QVariant UserDefaults::value(const QString& key) const
{
    return m_settings->value(key);
}

void UserDefaults::setValue(const QString& key, const QVariant& value)
{
    m_settings->setValue(key, value);
    Q_EMIT valueChanged(key);
}

bool UserDefaults::contains(const QString& key) const
{
    return m_settings->contains(key);
}

void UserDefaults::remove(const QString& key)
{
    m_settings->remove(key);
    Q_EMIT valueChanged(key);
}

void UserDefaults::sync()
{
    m_settings->sync();
}

} // namespace tc
