#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QFileDialog;
class QLabel;
class QTabWidget;

namespace tc {

class SettingsModel;

// The "設定" window: one page per subject (speech model, language model, devices, caption panel, data). Every
// change is stored at once; there is nothing to apply or save. Reads the model lists and devices again each
// time it is shown.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    explicit SettingsWindow(SettingsModel* model, QWidget* parent = nullptr);

    SettingsModel* model() const { return m_model; }
    QTabWidget* pages() const { return m_pages; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeLanguageModelPage();
    QWidget* makeDevicePage();
    QWidget* makeCaptionPage();
    QWidget* makeDataPage();
    void showLanguageModel();
    void showLanguageInstall();
    void showDevices();
    void chooseLanguageModelFile();

    SettingsModel* m_model;
    QTabWidget* m_pages;
    QLabel* m_languageFile = nullptr;
    QLabel* m_languageSize = nullptr;
    QLabel* m_languageTuned = nullptr;
    QLabel* m_languageProblem = nullptr;
    QLabel* m_languageNote = nullptr;
    // One row per installable instruction-tuned model: rebuilt when the list or the choice changes.
    QWidget* m_languageCatalogue = nullptr;
    QLabel* m_languageInstall = nullptr;
    QFileDialog* m_fileDialog = nullptr;
    QComboBox* m_microphones = nullptr;
    QComboBox* m_outputs = nullptr;
    QCheckBox* m_showSpeaker = nullptr;
    QLabel* m_sessionCount = nullptr;
};

} // namespace tc
