#include "planetarium/planetarium_link.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace tavro {

namespace {

constexpr const char* kLinkedWords = "planetarium linked";
constexpr const char* kOffWords = "planetarium link off: ";

}  // namespace

// One client: its socket and its side of the conversation. `busy` while its
// commands are being carried out (a command may open a message box, whose
// loop delivers more input and the client's departure); what comes then is
// taken up afterwards. `waiting` while its input waits for the line (it is
// then in m_waiting).
struct CPlanetariumLink::Session {
    Session(lx200::Panel& panel, lx200::Epoch epoch) : conversation(panel, epoch) {}
    lx200::Conversation conversation;
    bool busy = false;
    bool gone = false;
    bool waiting = false;
};

std::optional<ListenAddress> ParseListenAddress(const QString& text, QString* why)
{
    const auto fail = [&](const QString& reason) -> std::optional<ListenAddress> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0)
        return fail(QStringLiteral("\"%1\" is not ADDRESS:PORT").arg(text));
    QString host = text.left(colon);
    const QString portText = text.mid(colon + 1);
    bool portRead = false;
    const uint port = portText.toUInt(&portRead);
    if (!portRead || portText.isEmpty() || !portText[0].isDigit() || port > 65535)
        return fail(QStringLiteral("\"%1\" is not a port").arg(portText));
    ListenAddress address;
    address.port = static_cast<quint16>(port);
    if (host.compare(u"localhost", Qt::CaseInsensitive) == 0) {
        address.address = QHostAddress(QHostAddress::LocalHost);
        return address;
    }
    const bool bracketed = host.startsWith(u'[') && host.endsWith(u']');
    if (bracketed)
        host = host.mid(1, host.size() - 2);
    // An IPv6 address needs its brackets, so that its last group is never
    // taken for the port.
    if (!address.address.setAddress(host) ||
        (address.address.protocol() == QAbstractSocket::IPv6Protocol) != bracketed)
        return fail(QStringLiteral("\"%1\" is not an address").arg(text.left(colon)));
    return address;
}

CPlanetariumLink::CPlanetariumLink(lx200::Panel& panel, QObject* parent)
    : QObject(parent), m_panel(panel)
{
}

CPlanetariumLink::~CPlanetariumLink()
{
    if (m_noticeSet)
        m_panel.SetLineFreeNotice({});
    // The conversations release the slews their clients hold.
    m_waiting.clear();
    std::map<QTcpSocket*, std::unique_ptr<Session>> sessions;
    sessions.swap(m_sessions);
    for (auto& [socket, session] : sessions) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
}

bool CPlanetariumLink::Start(const PlanetariumSettings& settings)
{
    m_epoch = settings.j2000 ? lx200::Epoch::J2000 : lx200::Epoch::JNow;
    const QString listen = QString::fromStdString(settings.listen).trimmed();
    if (listen.isEmpty() || listen.compare(u"off", Qt::CaseInsensitive) == 0)
        return false;
    QString why;
    const std::optional<ListenAddress> address = ParseListenAddress(listen, &why);
    if (!address) {
        m_panel.ShowLinkState(kOffWords + why.toStdString());
        return false;
    }
    m_server = new QTcpServer(this);
    m_server->setMaxPendingConnections(kMaxClients);
    connect(m_server, &QTcpServer::newConnection, this, &CPlanetariumLink::OnNewConnection);
    if (!m_server->listen(address->address, address->port)) {
        QString reason = m_server->errorString();
        if (!reason.isEmpty())
            reason[0] = reason[0].toLower();
        m_panel.ShowLinkState(kOffWords + (listen + QStringLiteral(": ") + reason).toStdString());
        delete m_server;
        m_server = nullptr;
        return false;
    }
    m_panel.SetLineFreeNotice([this] { ServeWaiting(); });
    m_noticeSet = true;
    return true;
}

bool CPlanetariumLink::Listening() const
{
    return m_server && m_server->isListening();
}

quint16 CPlanetariumLink::Port() const
{
    return Listening() ? m_server->serverPort() : 0;
}

void CPlanetariumLink::OnNewConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        if (Clients() >= kMaxClients) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        // Qt stops reading from the system once this much waits unread, so a
        // flood costs no memory; the check in Serve then closes the client.
        socket->setReadBufferSize(2 * kMaxPendingBytes);
        m_sessions.emplace(socket, std::make_unique<Session>(m_panel, m_epoch));
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Serve(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { Forget(socket); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { Forget(socket); });
        ShowState();
        // Bytes may have come with the connection itself.
        Serve(socket);
    }
}

void CPlanetariumLink::Serve(QTcpSocket* socket)
{
    const auto it = m_sessions.find(socket);
    if (it == m_sessions.end() || it->second->busy)
        return;
    Session* session = it->second.get();
    if (session->waiting) {
        // Served in its turn once the line is free; what it sends meanwhile
        // still counts against the flood limit.
        if (socket->bytesAvailable() > kMaxPendingBytes)
            Close(socket);
        return;
    }
    session->busy = true;
    QPointer<CPlanetariumLink> self(this);
    bool close = false;
    const auto wait = [&] {
        session->waiting = true;
        m_waiting.push_back(socket);
    };
    while (!session->gone &&
           (socket->bytesAvailable() > 0 || session->conversation.Holding())) {
        if (socket->bytesAvailable() > kMaxPendingBytes) {
            close = true;
            break;
        }
        if (m_panel.LineBusy()) {
            wait();
            break;
        }
        // Peeked: what the conversation leaves for when the line is free
        // stays in the socket.
        const QByteArray input = socket->peek(socket->bytesAvailable());
        size_t taken = 0;
        const std::string reply =
            session->conversation.Receive(std::string_view(input.constData(), input.size()), &taken);
        if (!self)
            return;
        if (session->gone)
            break;
        socket->skip(static_cast<qint64>(taken));
        const bool held = (taken < static_cast<size_t>(input.size()) && m_panel.LineBusy()) ||
                          session->conversation.Holding();
        if (!reply.empty())
            socket->write(reply.data(), static_cast<qint64>(reply.size()));
        if (session->conversation.Flooding() || socket->bytesToWrite() > kMaxUnsentBytes) {
            close = true;
            break;
        }
        if (held) {
            wait();
            break;
        }
    }
    session->busy = false;
    if (session->gone) {
        Forget(socket);
    } else if (close) {
        Close(socket);
    }
}

void CPlanetariumLink::Close(QTcpSocket* socket)
{
    socket->abort();
    Forget(socket);
}

void CPlanetariumLink::Forget(QTcpSocket* socket)
{
    const auto it = m_sessions.find(socket);
    if (it == m_sessions.end())
        return;
    if (it->second->busy) {
        // Carrying out its commands: forgotten when they are done.
        it->second->gone = true;
        return;
    }
    std::erase(m_waiting, socket);
    std::unique_ptr<Session> session = std::move(it->second);
    m_sessions.erase(it);
    socket->disconnect(this);
    socket->deleteLater();
    // Releases a slew the client held (on the window, after the map is
    // consistent again).
    session.reset();
    ShowState();
}

void CPlanetariumLink::ServeWaiting()
{
    std::vector<QTcpSocket*> waiting;
    waiting.swap(m_waiting);
    for (QTcpSocket* socket : waiting) {
        if (const auto it = m_sessions.find(socket); it != m_sessions.end())
            it->second->waiting = false;
    }
    // A client whose command makes the line busy again waits anew, and so,
    // behind it, do those not yet served.
    QPointer<CPlanetariumLink> self(this);
    for (QTcpSocket* socket : waiting) {
        Serve(socket);
        if (!self)
            return;
    }
}

void CPlanetariumLink::ShowState()
{
    const std::string words = m_sessions.empty() ? std::string() : std::string(kLinkedWords);
    if (words == m_shownWords)
        return;
    m_shownWords = words;
    m_panel.ShowLinkState(words);
}

std::unique_ptr<CPlanetariumLink> StartPlanetariumLink(
    lx200::Panel& panel, const std::string& settingsPath,
    const std::optional<std::string>& listenOverride)
{
    PlanetariumSettings settings = LoadPlanetariumSettings(settingsPath);
    if (listenOverride)
        settings.listen = *listenOverride;
    auto link = std::make_unique<CPlanetariumLink>(panel);
    link->Start(settings);
    return link;
}

}  // namespace tavro
