#include "platform/printerstatus.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/library/large_fd_set.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <mutex>

namespace {

// As printers number themselves: the printer is the first device, with
// its first marker.
using Oid = std::vector<oid>;
const Oid PrinterState{1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 1, 1};     // hrPrinterStatus
const Oid PrinterAlerts{1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 2, 1};    // hrPrinterDetectedErrorState
const Oid PageCount{1, 3, 6, 1, 2, 1, 43, 10, 2, 1, 4, 1, 1};    // prtMarkerLifeCount
const Oid Model{1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 3, 1};            // hrDeviceDescr

// hrPrinterStatus from 1 on.
const char *const States[] = {"other", "unknown", "idle", "printing", "warming up"};
// hrPrinterDetectedErrorState, a bit each from the first octet's highest on.
const char *const Alerts[] = {"low paper",          "no paper",          "low toner",
                              "no toner",           "door open",         "jammed",
                              "offline",            "service requested", "input tray missing",
                              "output tray missing", "marker supply missing", "output near full",
                              "output full",        "input tray empty",  "overdue maintenance"};

// Built without locks of its own, the library keeps some state for all
// sessions (request numbers, counters); only the waits run outside this.
std::mutex libraryMutex;

using Pdu = std::unique_ptr<netsnmp_pdu, decltype(&snmp_free_pdu)>;

struct SessionCloser
{
    void operator()(void *session) const
    {
        const std::lock_guard lock(libraryMutex);
        snmp_sess_close(session);
    }
};
using Session = std::unique_ptr<void, SessionCloser>;

bool named(const Oid &name, const netsnmp_variable_list &variable)
{
    return variable.name_length == name.size() && std::equal(name.begin(), name.end(), variable.name);
}

class SnmpAgent final : public PrinterAgent
{
public:
    SnmpAgent(const std::string &host, int port, const std::string &community)
        : m_community(community),
          m_label((host.find(':') == std::string::npos ? host : '[' + host + ']') + ':' +
                  std::to_string(port)),
          m_peer((host.find(':') == std::string::npos ? "udp:" : "udp6:") + m_label)
    {
        // Only the transports: the library's configuration files, MIB
        // files and saved state are none of this program's business.
        static std::once_flag initialized;
        std::call_once(initialized, [] { netsnmp_tdomain_init(); });
    }

    PrinterStatus ask(const std::stop_token &stop) override
    {
        // The version that answered last is tried first.
        const long other = m_version == SNMP_VERSION_2c ? SNMP_VERSION_1 : SNMP_VERSION_2c;
        for (const long version : {m_version, other}) {
            std::string why;
            const Session session = open(version, &why);
            if (!session)
                return {{SendOutcome::ConnectionFailed, "SNMP: " + why}};
            const Pdu answer = exchange(session.get(), {PrinterState, PrinterAlerts, PageCount, Model}, stop);
            if (stop.stop_requested())
                return {{SendOutcome::Cancelled, "interrupted while asking the printer over SNMP"}};
            if (answer) {
                m_version = version;
                return read(*answer);
            }
        }
        return {{SendOutcome::ConnectionFailed, "no answer over SNMP from " + m_label}};
    }

private:
    Session open(long version, std::string *why) const
    {
        const std::lock_guard lock(libraryMutex);
        netsnmp_session settings;
        snmp_sess_init(&settings);
        settings.version = version;
        settings.peername = const_cast<char *>(m_peer.c_str());
        settings.community =
            reinterpret_cast<u_char *>(const_cast<char *>(m_community.data()));
        settings.community_len = m_community.size();
        settings.timeout = 1000000; // microseconds
        settings.retries = 1;
        Session session(snmp_sess_open(&settings));
        if (!session) {
            char *text = nullptr;
            snmp_error(&settings, nullptr, nullptr, &text);
            *why = text ? text : "the session could not be opened";
            std::free(text);
        }
        return session;
    }

    // The answer within the session's time-out and tries; null when there
    // was none, or when stopped. An answer may still be an error: what it
    // holds is then not what was asked for. A version 1 agent refuses a whole request
    // for one name it does not know: it is asked again without that one.
    Pdu exchange(void *session, const std::vector<Oid> &names, const std::stop_token &stop)
    {
        netsnmp_pdu *pdu = nullptr;
        {
            const std::lock_guard lock(libraryMutex);
            pdu = snmp_pdu_create(SNMP_MSG_GET);
            for (const Oid &name : names)
                snmp_add_null_var(pdu, name.data(), name.size());
        }
        Pdu answer = sendAndWait(session, pdu, stop);
        while (answer && answer->errstat == SNMP_ERR_NOSUCHNAME) {
            netsnmp_pdu *fewer = nullptr;
            {
                const std::lock_guard lock(libraryMutex);
                fewer = snmp_fix_pdu(answer.get(), SNMP_MSG_GET);
            }
            if (!fewer)
                break; // nothing left to ask
            answer = sendAndWait(session, fewer, stop);
        }
        return answer;
    }

    Pdu sendAndWait(void *session, netsnmp_pdu *pdu, const std::stop_token &stop)
    {
        m_reply = {false, Pdu(nullptr, snmp_free_pdu)};
        // Also called, with no message, when the session closes on a
        // question still open: the reply is a member, so it outlives that.
        const auto received = [](int operation, netsnmp_session *, int, netsnmp_pdu *message,
                                 void *reply) {
            auto &to = *static_cast<Reply *>(reply);
            to.done = true;
            if (operation == NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE)
                to.answer.reset(snmp_clone_pdu(message));
            return 1;
        };
        {
            const std::lock_guard lock(libraryMutex);
            if (snmp_sess_async_send(session, pdu, received, &m_reply) == 0) {
                snmp_free_pdu(pdu);
                return Pdu(nullptr, snmp_free_pdu);
            }
        }
        while (!m_reply.done && !stop.stop_requested()) {
            netsnmp_large_fd_set readable;
            int descriptors = 0;
            int block = 0;
            timeval wait{};
            {
                const std::lock_guard lock(libraryMutex);
                netsnmp_large_fd_set_init(&readable, FD_SETSIZE);
                snmp_sess_select_info2(session, &descriptors, &readable, &wait, &block);
            }
            // In short slices, so that a stop is seen at once.
            if (block != 0 || wait.tv_sec > 0 || wait.tv_usec > 50000)
                wait = {0, 50000};
            const int ready = netsnmp_large_fd_set_select(descriptors, &readable, nullptr, nullptr, &wait);
            const std::lock_guard lock(libraryMutex);
            if (ready > 0)
                snmp_sess_read2(session, &readable);
            else if (ready == 0)
                snmp_sess_timeout(session);
            netsnmp_large_fd_set_cleanup(&readable);
        }
        return std::move(m_reply.answer);
    }

    // What the names of one answer say, each where it belongs.
    static PrinterStatus read(const netsnmp_pdu &answer)
    {
        PrinterStatus status{{SendOutcome::Delivered, {}}};
        status.state = "unknown";
        for (const netsnmp_variable_list *variable = answer.variables; variable;
             variable = variable->next_variable) {
            const bool number = variable->type == ASN_INTEGER || variable->type == ASN_COUNTER ||
                                variable->type == ASN_GAUGE;
            const auto text = [variable] {
                return std::string(reinterpret_cast<const char *>(variable->val.string),
                                   variable->val_len);
            };
            if (named(PrinterState, *variable) && number && *variable->val.integer >= 1 &&
                *variable->val.integer <= 5)
                status.state = States[*variable->val.integer - 1];
            else if (named(PageCount, *variable) && number)
                status.pageCount = *variable->val.integer;
            else if (named(Model, *variable) && variable->type == ASN_OCTET_STR)
                status.model = text();
            else if (named(PrinterAlerts, *variable) && variable->type == ASN_OCTET_STR)
                for (std::size_t bit = 0; bit < std::size(Alerts) && bit / 8 < variable->val_len; ++bit)
                    if ((variable->val.string[bit / 8] & (0x80 >> (bit % 8))) != 0)
                        status.alerts.emplace_back(Alerts[bit]);
        }
        return status;
    }

    struct Reply
    {
        bool done = false;
        Pdu answer{nullptr, snmp_free_pdu};
    };

    const std::string m_community;
    const std::string m_label; // host:port, as the user reads it
    const std::string m_peer;  // as the library reads it
    long m_version = SNMP_VERSION_2c;
    Reply m_reply;
};

} // namespace

std::unique_ptr<PrinterAgent> createPrinterAgent(const std::string &host, int port,
                                                 const std::string &community)
{
    return std::make_unique<SnmpAgent>(host, port, community);
}
