#pragma once

#include <QWidget>

class QLabel;
class TcpBlockSender;

// The progress window of one TCP send. It carries the connection, so the
// window and its connection end together.
class frmsocket : public QWidget
{
    Q_OBJECT

public:
    explicit frmsocket(QWidget *parent = nullptr);
    ~frmsocket() override;

    QLabel *Label1 = nullptr;
    TcpBlockSender *winsock = nullptr;

    // Closes the connection once everything queued has reached the peer and
    // then goes; a send still under way is cancelled.
    void unload();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    bool m_centred = false;
    bool m_unloading = false;
};
