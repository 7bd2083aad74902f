#pragma once
// CPlanetariumLink: lets planetarium programs point the mount while the
// window runs. A TCP server on the window's thread (non-blocking sockets,
// several clients at once) speaks LX200 with each client through an
// lx200::Conversation that acts on the window's Panel.
//
// What a client can do is limited to what the Panel allows; a client that
// floods (more unread input than any command needs, or too many oversized
// lines in a row) or stops reading its answers is closed; a client that
// goes away mid-command is forgotten, and a slew it held is released.
// While a stop the link asked for is on the line (Panel::LineBusy), the
// input of every client waits unread in its socket; once the window says
// the line is free, the clients that waited are served again in the order
// they began to wait, each from where it stopped. The
// link reads the settings file only through LoadPlanetariumSettings and
// never writes it.

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lx200/conversation.h"
#include "lx200/panel.h"
#include "settings/planetarium_settings.h"

class QTcpServer;
class QTcpSocket;

namespace tavro {

struct ListenAddress {
    QHostAddress address;
    quint16 port = 0;   // 0: a free port chosen by the system
};

// "ADDRESS:PORT" with an IPv4 address, "localhost" or a bracketed IPv6
// address; nothing for other text (then `why` says what is wrong).
std::optional<ListenAddress> ParseListenAddress(const QString& text, QString* why = nullptr);

class CPlanetariumLink : public QObject {
    Q_OBJECT
public:
    // At most this many clients at once; more are closed as they come.
    static constexpr int kMaxClients = 16;
    // Unread input above this closes the client: no command is that long.
    static constexpr qint64 kMaxPendingBytes = 4096;
    // Answers the client has not taken above this close it.
    static constexpr qint64 kMaxUnsentBytes = 4096;

    explicit CPlanetariumLink(lx200::Panel& panel, QObject* parent = nullptr);
    ~CPlanetariumLink() override;

    // Listens as `settings` say. False when the link stays off; when it is
    // off because it could not listen (a bad address, the port taken) the
    // window is told why, once.
    bool Start(const PlanetariumSettings& settings);

    bool Listening() const;
    // The port listened on (the one chosen, for port 0); 0 when off.
    quint16 Port() const;
    int Clients() const { return static_cast<int>(m_sessions.size()); }
    // Clients whose input waits for the line to be free.
    int WaitingClients() const { return static_cast<int>(m_waiting.size()); }

private:
    struct Session;

    void OnNewConnection();
    void Serve(QTcpSocket* socket);
    void Close(QTcpSocket* socket);
    void Forget(QTcpSocket* socket);
    // The line is free again: serves the clients that waited, in order.
    void ServeWaiting();
    void ShowState();

    lx200::Panel& m_panel;
    lx200::Epoch m_epoch = lx200::Epoch::JNow;
    QTcpServer* m_server = nullptr;
    std::map<QTcpSocket*, std::unique_ptr<Session>> m_sessions;
    // The clients whose input waits for the line, first to wait first.
    std::vector<QTcpSocket*> m_waiting;
    bool m_noticeSet = false;
    std::string m_shownWords;
};

// The link for the program's run: the settings file's [Planetarium] group,
// with `listenOverride` (the --planetarium option) in place of its Listen
// value when given. Started; the window has been told if it is off for a
// fault.
std::unique_ptr<CPlanetariumLink> StartPlanetariumLink(
    lx200::Panel& panel, const std::string& settingsPath,
    const std::optional<std::string>& listenOverride);

}  // namespace tavro
