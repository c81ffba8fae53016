#pragma once

#include <QIODevice>

#include <memory>

class SourceReader;

// A SourceReader seen as a sequential device, so the TCP sender can take a
// stream as it takes a file. readyRead is emitted on this object's thread
// whenever the reader may have more.
class ReaderDevice : public QIODevice
{
    Q_OBJECT

public:
    explicit ReaderDevice(std::unique_ptr<SourceReader> reader, QObject *parent = nullptr);
    ~ReaderDevice() override;

    bool isSequential() const override { return true; }
    bool atEnd() const override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    struct Link;
    std::unique_ptr<SourceReader> m_reader;
    std::shared_ptr<Link> m_link;
};
