#pragma once

#include <QWidget>

class QLabel;
class TcpSendSession;

// The progress window of one TCP send. It carries the connection, so the
// window and its connection end together.
class frmsocket : public QWidget
{
    Q_OBJECT

public:
    explicit frmsocket(QWidget *parent = nullptr);

    QLabel *Label1 = nullptr;
    TcpSendSession *winsock = nullptr;

    // Closes the connection once everything queued has reached the peer and
    // then goes; a send still under way is cancelled.
    void unload();

    // The connection's state as the classic control numbered it: 0 closed,
    // 4 resolving, 6 connecting, 7 connected, 8 closing, 9 error.
    int classicState() const;
    // What the user is told of a failed send: the printer, the state and
    // why, and for a broken transfer how much arrived.
    QString failureMessage() const;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    bool m_centred = false;
    bool m_unloading = false;
};
