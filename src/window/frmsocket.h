#pragma once

#include <QWidget>

class QLabel;
class TcpBlockSender;

// The progress window of one TCP send; it and its connection end together.
class frmsocket : public QWidget
{
    Q_OBJECT

public:
    explicit frmsocket(QWidget *parent = nullptr);

    QLabel *Label1 = nullptr;
    TcpBlockSender *winsock = nullptr;

    // Goes once the printer has taken everything queued.
    void unload();
    // As the classic control numbered it: 0 closed, 4 resolving,
    // 6 connecting, 7 connected, 8 closing, 9 error.
    int classicState() const;
    QString failureMessage() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    bool m_unloading = false;
};
