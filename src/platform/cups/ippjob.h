#pragma once

#include <atomic>
#include <string>

typedef struct _http_s http_t;

// A raw job sent straight to an IPP printer (or scheduler queue) by URI,
// streamed: the length need not be known in advance. Blocking calls; run it
// off the user-interface thread.
class IppJob
{
public:
    IppJob() = default;
    ~IppJob();
    IppJob(const IppJob &) = delete;
    IppJob &operator=(const IppJob &) = delete;

    bool start(const std::string &uri, const std::string &title, int connectTimeoutMs);
    bool write(const char *data, std::size_t size);
    // Ends the document and reads the printer's answer; true when it took the job.
    bool finish();
    // Abandons the job: before finish() the request is cut off, after it the
    // job is cancelled at the printer.
    void cancel();

    // Polls the job until it is completed, aborted or cancelled (or stop is
    // set); returns the state's name, or empty when it could not be asked.
    std::string waitForEnd(const std::atomic<bool> &stop);

    int jobId() const { return m_jobId; }
    const std::string &error() const { return m_error; }

private:
    bool fail(const std::string &what);

    http_t *m_http = nullptr;
    std::string m_uri;
    std::string m_resource;
    int m_jobId = 0;
    bool m_streaming = false;
    std::string m_error;
};
