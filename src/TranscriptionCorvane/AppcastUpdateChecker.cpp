#include "TranscriptionCorvane/AppcastUpdateChecker.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QXmlStreamReader>
#include <algorithm>
#include <cstdio>

namespace tc {

namespace {

constexpr auto kSparkleNamespace = "http://www.andymatuschak.org/xml-namespaces/sparkle";
constexpr int kTimeoutMs = 30000;

// Why a fetch failed, in words of our own.
QString networkFailure(QNetworkReply::NetworkError error)
{
    using E = QNetworkReply::NetworkError;
    switch (error) {
    case E::HostNotFoundError:
        return QStringLiteral("サーバーが見つかりません。インターネットにつながっているか確かめてください");
    case E::ConnectionRefusedError: return QStringLiteral("サーバーが接続を受け付けませんでした");
    case E::RemoteHostClosedError: return QStringLiteral("サーバーが途中で接続を切りました");
    case E::TimeoutError:
    case E::OperationCanceledError: return QStringLiteral("サーバーから時間内に応答がありませんでした");
    case E::SslHandshakeFailedError: return QStringLiteral("安全な接続を確立できませんでした");
    case E::TemporaryNetworkFailureError:
    case E::NetworkSessionFailedError: return QStringLiteral("ネットワークに一時的につながりません");
    case E::ProxyConnectionRefusedError:
    case E::ProxyConnectionClosedError:
    case E::ProxyNotFoundError:
    case E::ProxyTimeoutError:
    case E::ProxyAuthenticationRequiredError: return QStringLiteral("プロキシ経由で接続できませんでした");
    case E::ContentNotFoundError: return QStringLiteral("更新情報のファイルが見つかりません");
    case E::ContentAccessDenied:
    case E::ContentOperationNotPermittedError:
    case E::AuthenticationRequiredError: return QStringLiteral("更新情報を読む権限がありません");
    case E::ProtocolUnknownError:
    case E::ProtocolInvalidOperationError: return QStringLiteral("更新情報の場所が正しくありません");
    case E::TooManyRedirectsError:
    case E::InsecureRedirectError: return QStringLiteral("転送先が正しくありません");
    case E::InternalServerError:
    case E::ServiceUnavailableError: return QStringLiteral("サーバーが一時的に使えません");
    default: return QStringLiteral("通信に失敗しました");
    }
}

enum class SegmentKind { number, text, separator };

struct Segment {
    SegmentKind kind;
    QString text;
};

std::vector<Segment> segments(const QString& version)
{
    std::vector<Segment> result;
    auto kindOf = [](QChar c) {
        if (c.isDigit()) return SegmentKind::number;
        if (c.isLetter()) return SegmentKind::text;
        return SegmentKind::separator;
    };
    for (QChar c : version.trimmed()) {
        const SegmentKind kind = kindOf(c);
        if (!result.empty() && result.back().kind == kind && kind != SegmentKind::separator)
            result.back().text += c;
        else
            result.push_back({kind, QString(c)});
    }
    return result;
}

bool isSparkle(const QXmlStreamReader& xml, const char* name)
{
    return xml.name() == QLatin1String(name) &&
           (xml.namespaceUri() == QLatin1String(kSparkleNamespace) || xml.prefix() == QLatin1String("sparkle"));
}

// The versions an enclosure's sparkle attributes give, where the item's own elements gave none.
void readEnclosure(const QXmlStreamAttributes& attributes, AppcastItem& item)
{
    item.downloadURL = QUrl(attributes.value(QLatin1String("url")).toString());
    for (const QXmlStreamAttribute& attribute : attributes) {
        const bool sparkle = attribute.namespaceUri() == QLatin1String(kSparkleNamespace) ||
                             attribute.prefix() == QLatin1String("sparkle");
        if (!sparkle) continue;
        if (attribute.name() == QLatin1String("version") && item.version.isEmpty())
            item.version = attribute.value().toString().trimmed();
        if (attribute.name() == QLatin1String("shortVersionString") && item.displayVersion.isEmpty())
            item.displayVersion = attribute.value().toString().trimmed();
    }
}

// One element inside an item, at its start.
void readItemElement(QXmlStreamReader& xml, AppcastItem& item)
{
    const bool plain = xml.namespaceUri().isEmpty();
    if (xml.name() == QLatin1String("title") && plain)
        item.title = xml.readElementText().trimmed();
    else if (xml.name() == QLatin1String("description") && plain)
        item.notes = xml.readElementText().trimmed();
    else if (isSparkle(xml, "version"))
        item.version = xml.readElementText().trimmed();
    else if (isSparkle(xml, "shortVersionString"))
        item.displayVersion = xml.readElementText().trimmed();
    else if (isSparkle(xml, "releaseNotesLink"))
        item.releaseNotesURL = QUrl(xml.readElementText().trimmed());
    else if (xml.name() == QLatin1String("enclosure"))
        readEnclosure(xml.attributes(), item);
}

} // namespace

AppcastUpdateChecker::AppcastUpdateChecker(QUrl feedURL, QString currentVersion, QObject* parent)
    : QObject(parent), m_feedURL(std::move(feedURL)), m_currentVersion(std::move(currentVersion)),
      m_network(new QNetworkAccessManager(this))
{}

AppcastUpdateChecker::~AppcastUpdateChecker()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

int AppcastUpdateChecker::compareVersions(const QString& a, const QString& b)
{
    const std::vector<Segment> left = segments(a);
    const std::vector<Segment> right = segments(b);
    const std::size_t common = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < common; ++i) {
        const Segment& l = left[i];
        const Segment& r = right[i];
        if (l.kind == r.kind) {
            if (l.kind == SegmentKind::number) {
                // Compare as digit strings so long build numbers cannot overflow.
                QString ln = l.text;
                QString rn = r.text;
                while (ln.size() > 1 && ln.startsWith(QLatin1Char('0')))
                    ln.remove(0, 1);
                while (rn.size() > 1 && rn.startsWith(QLatin1Char('0')))
                    rn.remove(0, 1);
                if (ln.size() != rn.size()) return ln.size() < rn.size() ? -1 : 1;
                if (const int c = QString::compare(ln, rn); c != 0) return c < 0 ? -1 : 1;
            } else if (l.kind == SegmentKind::text) {
                if (const int c = QString::compare(l.text, r.text); c != 0) return c < 0 ? -1 : 1;
            }
            continue;
        }
        // Different kinds: a number is newer than letters (1.0 > 1.0b); letters are older than a separator
        // (1.0b1 < 1.0.1); a number is newer than a separator (1.1 > 1.1.).
        auto rank = [](SegmentKind kind) {
            switch (kind) {
            case SegmentKind::text: return 0;
            case SegmentKind::separator: return 1;
            case SegmentKind::number: return 2;
            }
            return 0;
        };
        return rank(l.kind) < rank(r.kind) ? -1 : 1;
    }
    if (left.size() == right.size()) return 0;
    // The longer one decides: more numbers make it newer (1.0.1 > 1.0), trailing letters older (1.0b < 1.0).
    const bool leftLonger = left.size() > right.size();
    const std::vector<Segment>& longer = leftLonger ? left : right;
    std::size_t next = common;
    if (longer[next].kind == SegmentKind::separator && next + 1 < longer.size()) ++next;
    const bool longerIsNewer = longer[next].kind == SegmentKind::number;
    return (leftLonger == longerIsNewer) ? 1 : -1;
}

std::optional<AppcastItem> AppcastUpdateChecker::parseLatest(const QByteArray& feed, QString* error)
{
    QXmlStreamReader xml(feed);
    std::vector<AppcastItem> items;
    bool sawRss = false;
    std::optional<AppcastItem> current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("rss")) sawRss = true;
            if (xml.name() == QLatin1String("item"))
                current = AppcastItem{};
            else if (current)
                readItemElement(xml, *current);
        } else if (xml.isEndElement() && xml.name() == QLatin1String("item") && current) {
            if (current->version.isEmpty()) current->version = current->displayVersion;
            if (current->displayVersion.isEmpty()) current->displayVersion = current->version;
            if (!current->version.isEmpty()) items.push_back(*current);
            current.reset();
        }
    }
    if (xml.hasError() || !sawRss) {
        if (error) *error = QStringLiteral("更新情報の形式が正しくありません");
        return std::nullopt;
    }
    if (items.empty()) {
        if (error) *error = QStringLiteral("更新情報にバージョンがありません");
        return std::nullopt;
    }
    return *std::max_element(items.begin(), items.end(), [](const AppcastItem& l, const AppcastItem& r) {
        return compareVersions(l.version, r.version) < 0;
    });
}

UpdateState AppcastUpdateChecker::evaluate(const std::optional<AppcastItem>& latest, const QString& currentVersion)
{
    if (!latest) return update_state::UpToDate{};
    if (compareVersions(latest->version, currentVersion) <= 0) return update_state::UpToDate{};
    std::optional<std::string> notes;
    if (!latest->notes.isEmpty()) notes = latest->notes.toStdString();
    return update_state::UpdateAvailable{latest->displayVersion.toStdString(), std::move(notes)};
}

void AppcastUpdateChecker::check(Completion completion)
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    m_completion = std::move(completion);
    QNetworkRequest request(m_feedURL);
    request.setTransferTimeout(kTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::finished, this, [this, reply = m_reply] { finish(reply); });
}

void AppcastUpdateChecker::finish(QNetworkReply* reply)
{
    if (reply != m_reply) return;
    m_reply = nullptr;
    reply->deleteLater();
    Completion completion = std::move(m_completion);
    m_completion = nullptr;
    if (!completion) return;

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (reply->error() != QNetworkReply::NoError) {
        // Qt's wording is English and technical: the log keeps it, the user reads ours.
        std::fprintf(stderr, "transcription-corvane: 更新情報の取得に失敗: %s (%s)\n",
                     reply->errorString().toLocal8Bit().constData(),
                     m_feedURL.toDisplayString().toLocal8Bit().constData());
        completion(update_state::Failed{QStringLiteral("更新情報を取得できませんでした（%1）")
                                            .arg(networkFailure(reply->error()))
                                            .toStdString()},
                   std::nullopt);
        return;
    }
    if (status.isValid() && status.toInt() != 200) {
        completion(
            update_state::Failed{
                QStringLiteral("更新情報を取得できませんでした（HTTP %1）").arg(status.toInt()).toStdString()},
            std::nullopt);
        return;
    }
    QString error;
    const std::optional<AppcastItem> latest = parseLatest(reply->readAll(), &error);
    if (!latest) {
        completion(update_state::Failed{error.toStdString()}, std::nullopt);
        return;
    }
    completion(evaluate(latest, m_currentVersion), latest);
}

} // namespace tc
