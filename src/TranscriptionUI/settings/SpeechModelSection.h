#pragma once

#include <QWidget>

class QCheckBox;
class QFileDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace tc {

class SettingsModel;

// The "音声認識モデル" page: the catalogue's models with size, measured speed and accuracy and whether they
// are installed, the buttons acting on the selected one (installing from the registry or from a file the user
// obtained), and the install's progress with a cancel button; where speech is decoded (GPU or CPU), which model
// suits this machine and why, and the two-pass choice.
class SpeechModelSection : public QWidget {
    Q_OBJECT
public:
    explicit SpeechModelSection(SettingsModel* model, QWidget* parent = nullptr);

private:
    // The constructor's steps: object names and fixed texts, the layout, the wiring to the model.
    void nameControls();
    void layOut();
    void connectControls();
    void showModels();
    void showAdvice();
    void showInstall();
    void updateButtons();
    void chooseFile();
    QString selectedName() const;

    SettingsModel* m_model;
    QTreeWidget* m_list;
    QPushButton* m_install;
    QPushButton* m_import;
    // Why the selected model cannot be brought in from a file; hidden when it can or need not be.
    QLabel* m_importNote;
    QFileDialog* m_importDialog = nullptr;
    QPushButton* m_remove;
    QPushButton* m_use;
    QProgressBar* m_progress;
    QLabel* m_phase;
    QPushButton* m_cancel;
    QLabel* m_message;
    QLabel* m_device;
    QLabel* m_advice;
    QPushButton* m_measure;
    QCheckBox* m_twoPasses;
};

} // namespace tc
