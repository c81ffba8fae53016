#pragma once

#include "cupsconnection.h"
#include "cupsjobs.h"

#include <string>

// A raw job sent straight to an IPP printer (or scheduler queue) by URI,
// streamed: the length need not be known in advance. Blocking calls, each
// bounded by the wait limits; run it off the user-interface thread.
class IppJob
{
public:
    // How the last failed step failed.
    enum class Failure {
        None,
        Connect, // no connection, or no such printer at the URI
        Lost,    // the connection broke, or the printer went silent or answered nonsense
        Refused, // the printer said no; error holds its words
        Stopped, // the stop flag was set
    };

    explicit IppJob(const WaitLimits &limits);
    ~IppJob();
    IppJob(const IppJob &) = delete;
    IppJob &operator=(const IppJob &) = delete;

    bool start(const std::string &uri, const std::string &title);
    bool write(const char *data, std::size_t size);
    // Ends the document and reads the printer's answer; true only when it
    // took the job and named it.
    bool finish();
    // Abandons the job: before finish() the request is cut off, after it the
    // job is cancelled at the printer.
    void cancel();

    // Polls the job until it has ended (or the printer forgot it).
    JobEnd waitForEnd();

    int jobId() const { return m_jobId; }
    const std::string &error() const { return m_error; }
    Failure failure() const { return m_failure; }

private:
    bool fail(Failure failure, const std::string &what, const std::string &reason);
    // After the printer broke off a request: its answer if it gave one.
    bool failWithAnswer(const std::string &what);
    bool refusedInHttp(http_status_t status);

    WaitLimits m_limits;
    CupsConnection m_connection;
    std::string m_uri;
    std::string m_resource;
    int m_jobId = 0;
    bool m_streaming = false;
    Failure m_failure = Failure::None;
    std::string m_error;
};
