#pragma once

#include <QObject>
#include <QSettings>
#include <QString>
#include <QVariant>
#include <memory>

namespace tc {

// The user's preferences (window and menu settings, source opt-ins, the caption panel's frame), kept in
// QSettings. Every holder of a key in this process shares one instance and hears each change through
// valueChanged. Main thread only.
class PreferencesStore : public QObject {
    Q_OBJECT
public:
    // The application's default QSettings (organisation and application name of the QCoreApplication).
    explicit PreferencesStore(QObject* parent = nullptr);
    // A given INI file, for tests and tools.
    explicit PreferencesStore(const QString& iniFile, QObject* parent = nullptr);
    ~PreferencesStore() override;

    // false when the key was never written.
    bool boolValue(const QString& key, bool fallback = false) const;
    // Writes and notifies, even when the value is unchanged.
    void setBool(const QString& key, bool value);
    double doubleValue(const QString& key, double fallback) const;
    void setDouble(const QString& key, double value);
    // An invalid variant when the key was never written.
    QVariant value(const QString& key) const;
    void setValue(const QString& key, const QVariant& value);
    bool contains(const QString& key) const;
    void remove(const QString& key);
    // Writes pending changes to disk now.
    void sync();
    // The same store, for holders that read their keys through QSettings (the presentation model).
    QSettings* settings() const { return m_settings.get(); }

signals:
    void valueChanged(const QString& key);

private:
    std::unique_ptr<QSettings> m_settings;
};

} // namespace tc
