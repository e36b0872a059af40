#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace tc {

class ModelDownloadOffer;

// The main window's strip that offers the speech model's download when it is missing or damaged: what is wrong
// and what the download weighs, then its progress with a cancel button, then why it failed with a retry button.
// Hidden while the offer has nothing to say. Shows the offer it is given, which must outlive it. Main thread only.
class ModelDownloadBanner : public QWidget {
    Q_OBJECT
public:
    explicit ModelDownloadBanner(ModelDownloadOffer* offer, QWidget* parent = nullptr);

private:
    void refresh();

    ModelDownloadOffer* m_offer;
    QLabel* m_message;
    QProgressBar* m_progress;
    QPushButton* m_download;
    QPushButton* m_cancel;
};

} // namespace tc
