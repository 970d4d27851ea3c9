// DNS-SD on Linux: Avahi's client library, talking to the running avahi-daemon over D-Bus.
//
// Announcing runs from a thread of its own (AvahiThreadedPoll), so that the server's wait knows
// nothing of it. AVAHI_CLIENT_NO_FAIL keeps the client waiting for a daemon that is not there yet
// or went away, and the services are registered again whenever it (re)appears.
//
// Browsing (`varnoltctl discover`) lists _scpi-raw._tcp and _http._tcp and resolves each service
// listed, on a simple poll in the calling thread that ends at the time-out.
#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/simple-watch.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>
#include <iterator>

#include "dns_sd/announce.h"
#include "dns_sd/discover.h"
#include "dns_sd/dns_sd_names.h"
#include "link/exit_codes.h"

// Announcing.

namespace {

enum : int32_t {
  kRetryMs = 5000,    // a client that could not even reach the bus tries again
  kNoInterface = -2,  // no interface holds the address (AVAHI_IF_UNSPEC, -1, is every one)
};

// Everything below is touched by the poll's thread only (or with its lock held).
AvahiThreadedPoll *threadedPoll = nullptr;
AvahiClient *client = nullptr;
AvahiEntryGroup *group = nullptr;
AvahiTimeout *retryTimeout = nullptr;
AnnouncePlan plan;
AvahiIfIndex aInterfaces[kAnnounceMaxServices];
char szName[kAnnounceNameSize];  // the name asked for now: the plan's, or the alternative
bool absenceTold = false;
AnnounceMessageFunction printMessage = nullptr;  // the caller's, for its lines

// The interface that holds a bound address, AVAHI_IF_UNSPEC for a wildcard, kNoInterface when
// none does.
AvahiIfIndex InterfaceOf(const AnnouncedService &service) {
  if (service.wildcard) return AVAHI_IF_UNSPEC;
  unsigned char aWanted[sizeof(in6_addr)];
  int family = service.ipv6 ? AF_INET6 : AF_INET;
  if (inet_pton(family, service.szAddress, aWanted) != 1) return kNoInterface;
  ifaddrs *pList = nullptr;
  if (getifaddrs(&pList) != 0) return kNoInterface;
  AvahiIfIndex found = kNoInterface;
  for (ifaddrs *p = pList; p != nullptr && found == kNoInterface; p = p->ifa_next) {
    if (p->ifa_addr == nullptr || p->ifa_addr->sa_family != family) continue;
    const void *pAddress =
        family == AF_INET
            ? static_cast<const void *>(&reinterpret_cast<sockaddr_in *>(p->ifa_addr)->sin_addr)
            : static_cast<const void *>(&reinterpret_cast<sockaddr_in6 *>(p->ifa_addr)->sin6_addr);
    if (memcmp(pAddress, aWanted, family == AF_INET ? 4 : 16) == 0) {
      found = static_cast<AvahiIfIndex>(if_nametoindex(p->ifa_name));
    }
  }
  freeifaddrs(pList);
  return found;
}

// Which mDNS protocol carries the records: a socket bound to 0.0.0.0 takes IPv4 only, one bound
// to :: takes both (Linux's default), one bound to an address takes its family.
AvahiProtocol ProtocolOf(const AnnouncedService &service) {
  if (service.wildcard && service.ipv6) return AVAHI_PROTO_UNSPEC;
  return service.ipv6 ? AVAHI_PROTO_INET6 : AVAHI_PROTO_INET;
}

void ConnectClient();
void RetryLater();
void RegisterServices(AvahiClient *pClient);

void OnGroupState(AvahiEntryGroup *pGroup, AvahiEntryGroupState state, void *) {
  if (state == AVAHI_ENTRY_GROUP_ESTABLISHED) {
    printMessage(std::string("announced as \"") + szName + "\"");
  } else if (state == AVAHI_ENTRY_GROUP_COLLISION) {
    // Another instrument on the network has the name: the responder's alternative ("... #2").
    char *szAlternative = avahi_alternative_service_name(szName);
    snprintf(szName, std::size(szName), "%s", szAlternative);
    avahi_free(szAlternative);
    avahi_entry_group_reset(pGroup);
    RegisterServices(avahi_entry_group_get_client(pGroup));
  } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
    printMessage(std::string("announcing failed: ") +
                 avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(pGroup))));
  }
}

void RegisterServices(AvahiClient *pClient) {
  if (group == nullptr) group = avahi_entry_group_new(pClient, OnGroupState, nullptr);
  if (group == nullptr || !avahi_entry_group_is_empty(group)) return;
  for (int32_t i = 0; i < plan.count; i++) {
    const AnnouncedService &service = plan.aServices[i];
    if (aInterfaces[i] == kNoInterface) continue;
    AvahiStringList *pTexts = nullptr;
    for (int32_t t = service.textCount - 1; t >= 0; t--) {
      pTexts = avahi_string_list_add(pTexts, service.aszTexts[t]);
    }
    int error = avahi_entry_group_add_service_strlst(
        group, aInterfaces[i], ProtocolOf(service), static_cast<AvahiPublishFlags>(0), szName,
        service.szType, nullptr, nullptr, service.port, pTexts);
    avahi_string_list_free(pTexts);
    if (error == AVAHI_ERR_COLLISION) {
      // A service of this very responder has the name (another serve on this machine).
      char *szAlternative = avahi_alternative_service_name(szName);
      snprintf(szName, std::size(szName), "%s", szAlternative);
      avahi_free(szAlternative);
      avahi_entry_group_reset(group);
      RegisterServices(pClient);
      return;
    }
    if (error < 0) {
      printMessage(std::string("cannot announce ") + service.szType + ": " + avahi_strerror(error));
    }
  }
  if (!avahi_entry_group_is_empty(group)) avahi_entry_group_commit(group);
}

void TellAbsence() {
  if (absenceTold) return;
  absenceTold = true;
  printMessage("no mDNS responder (start avahi-daemon): serving without announcing until it runs");
}

void OnClientState(AvahiClient *pClient, AvahiClientState state, void *) {
  switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
      absenceTold = false;
      RegisterServices(pClient);
      break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
      // The host's own name is being (re)established: the services follow once it runs.
      if (group != nullptr) avahi_entry_group_reset(group);
      break;
    case AVAHI_CLIENT_CONNECTING: TellAbsence(); break;
    case AVAHI_CLIENT_FAILURE: {
      // The daemon went away: a new client waits for it to come back (the group went with it).
      // Any other failure tries again later, never in a tight loop.
      const bool disconnected = avahi_client_errno(pClient) == AVAHI_ERR_DISCONNECTED;
      TellAbsence();
      avahi_client_free(pClient);
      client = nullptr;
      group = nullptr;
      if (disconnected) {
        ConnectClient();
      } else {
        RetryLater();
      }
      break;
    }
  }
}

void OnRetry(AvahiTimeout *, void *) {
  ConnectClient();
}

void RetryLater() {
  const AvahiPoll *pPoll = avahi_threaded_poll_get(threadedPoll);
  timeval when;
  avahi_elapse_time(&when, kRetryMs, 0);
  if (retryTimeout == nullptr) {
    retryTimeout = pPoll->timeout_new(pPoll, &when, OnRetry, nullptr);
  } else {
    pPoll->timeout_update(retryTimeout, &when);
  }
}

void ConnectClient() {
  int error = 0;
  // The callback runs inside avahi_client_new already: it takes the client it is given.
  client = avahi_client_new(avahi_threaded_poll_get(threadedPoll), AVAHI_CLIENT_NO_FAIL,
                            OnClientState, nullptr, &error);
  if (client != nullptr) return;
  // Not even the system bus is there.
  TellAbsence();
  RetryLater();
}

}  // namespace

void StartAnnouncing(const char *szIdentity, const std::string &scpiBound,
                     const std::string &webBound, const std::string &httpsBound,
                     AnnounceMessageFunction print) {
  plan = PlanAnnouncement(szIdentity, scpiBound, webBound, httpsBound);
  if (plan.count == 0) return;
  printMessage = print;
  for (int32_t i = 0; i < plan.count; i++) {
    aInterfaces[i] = InterfaceOf(plan.aServices[i]);
    if (aInterfaces[i] == kNoInterface) {
      printMessage(std::string("not announcing ") + plan.aServices[i].szType +
                   ": no interface holds " + plan.aServices[i].szAddress);
    }
  }
  snprintf(szName, std::size(szName), "%s", plan.szName);
  threadedPoll = avahi_threaded_poll_new();
  if (threadedPoll == nullptr) return;
  avahi_threaded_poll_lock(threadedPoll);
  ConnectClient();
  avahi_threaded_poll_unlock(threadedPoll);
  avahi_threaded_poll_start(threadedPoll);
}

void StopAnnouncing() {
  if (threadedPoll == nullptr) return;
  avahi_threaded_poll_stop(threadedPoll);
  // The client's end withdraws its services from the responder (goodbye packets).
  if (client != nullptr) avahi_client_free(client);
  client = nullptr;
  group = nullptr;
  if (retryTimeout != nullptr) avahi_threaded_poll_get(threadedPoll)->timeout_free(retryTimeout);
  retryTimeout = nullptr;
  avahi_threaded_poll_free(threadedPoll);
  threadedPoll = nullptr;
}

// Browsing: `varnoltctl discover`.

namespace {

struct Browse {
  AvahiSimplePoll *poll;
  AvahiClient *client;
  DiscoverState *state;
  void (*onProgress)(DiscoverState *state, void *context);
  void *context;
  AvahiServiceBrowser *httpBrowser;
  AvahiServiceBrowser *httpsBrowser;
  int32_t webListed;  // the panels' browsers (_http._tcp, _https._tcp) that listed all they knew
  int32_t httpResolving;  // panels' services listed and not resolved yet
};

// The panels are all known once their browser has listed them all and each has resolved.
void NoteHttpProgress(Browse *browse) {
  bool complete = browse->webListed == 2 && browse->httpResolving == 0;
  if (complete == browse->state->httpComplete) return;
  browse->state->httpComplete = complete;
  browse->onProgress(browse->state, browse->context);
}

void OnResolved(AvahiServiceResolver *resolver, AvahiIfIndex, AvahiProtocol,
                AvahiResolverEvent event, const char *szName, const char *szType, const char *,
                const char *szHost, const AvahiAddress *pAddress, uint16_t port,
                AvahiStringList *pTexts, AvahiLookupResultFlags, void *userdata) {
  Browse *browse = static_cast<Browse *>(userdata);
  if (event == AVAHI_RESOLVER_FOUND) {
    FoundService service;
    service.type = szType;
    service.name = szName;
    service.host = szHost;
    char szAddress[AVAHI_ADDRESS_STR_MAX];
    avahi_address_snprint(szAddress, std::size(szAddress), pAddress);
    service.address = szAddress;
    service.port = port;
    for (AvahiStringList *p = pTexts; p != nullptr; p = avahi_string_list_get_next(p)) {
      service.texts.emplace_back(reinterpret_cast<const char *>(avahi_string_list_get_text(p)),
                                 avahi_string_list_get_size(p));
    }
    browse->state->services.push_back(service);
    browse->onProgress(browse->state, browse->context);
  }
  avahi_service_resolver_free(resolver);
  if (strcmp(szType, kDnsSdHttpType) == 0 || strcmp(szType, kDnsSdHttpsType) == 0) {
    browse->httpResolving--;
    NoteHttpProgress(browse);
  }
}

void OnBrowsed(AvahiServiceBrowser *browser, AvahiIfIndex interface, AvahiProtocol protocol,
               AvahiBrowserEvent event, const char *szName, const char *szType,
               const char *szDomain, AvahiLookupResultFlags, void *userdata) {
  Browse *browse = static_cast<Browse *>(userdata);
  if (event == AVAHI_BROWSER_NEW) {
    // The address of the protocol the service was seen on: an IPv4 listing gives an IPv4
    // address, which the VISA resource string wants first.
    if (avahi_service_resolver_new(browse->client, interface, protocol, szName, szType, szDomain,
                                   protocol, static_cast<AvahiLookupFlags>(0), OnResolved,
                                   browse) != nullptr &&
        (browser == browse->httpBrowser || browser == browse->httpsBrowser)) {
      browse->httpResolving++;
      NoteHttpProgress(browse);
    }
  } else if (event == AVAHI_BROWSER_REMOVE) {
    // Withdrawn (its server ended): what was not printed yet is not printed at all.
    std::vector<FoundService> &services = browse->state->services;
    for (size_t i = services.size(); i-- > 0;) {
      if (services[i].name == szName && services[i].type == szType) {
        services.erase(services.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  } else if (event == AVAHI_BROWSER_ALL_FOR_NOW &&
             (browser == browse->httpBrowser || browser == browse->httpsBrowser)) {
    browse->webListed++;
    NoteHttpProgress(browse);
  }
}

}  // namespace

int32_t BrowseInstruments(int32_t timeoutMs, DiscoverState *state,
                          void (*onProgress)(DiscoverState *state, void *context), void *context,
                          std::string *pMessage) {
  Browse browse = {};
  browse.poll = avahi_simple_poll_new();
  browse.state = state;
  browse.onProgress = onProgress;
  browse.context = context;
  const AvahiPoll *pPoll = avahi_simple_poll_get(browse.poll);
  int error = 0;
  browse.client =
      avahi_client_new(pPoll, static_cast<AvahiClientFlags>(0), nullptr, nullptr, &error);
  if (browse.client == nullptr) {
    avahi_simple_poll_free(browse.poll);
    *pMessage = std::string("no mDNS responder to ask (") + avahi_strerror(error) +
                "): start avahi-daemon (sudo systemctl start avahi-daemon)";
    return kExitNoGenerator;
  }
  avahi_service_browser_new(browse.client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, kDnsSdScpiType,
                            nullptr, static_cast<AvahiLookupFlags>(0), OnBrowsed, &browse);
  browse.httpBrowser =
      avahi_service_browser_new(browse.client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, kDnsSdHttpType,
                                nullptr, static_cast<AvahiLookupFlags>(0), OnBrowsed, &browse);
  browse.httpsBrowser =
      avahi_service_browser_new(browse.client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, kDnsSdHttpsType,
                                nullptr, static_cast<AvahiLookupFlags>(0), OnBrowsed, &browse);
  timeval when;
  avahi_elapse_time(&when, static_cast<unsigned>(timeoutMs), 0);
  pPoll->timeout_new(
      pPoll, &when,
      [](AvahiTimeout *, void *poll) {
        avahi_simple_poll_quit(static_cast<AvahiSimplePoll *>(poll));
      },
      browse.poll);
  while (avahi_simple_poll_iterate(browse.poll, -1) == 0) {
  }
  // Freeing the client frees its browsers and resolvers; the poll frees its time-out.
  avahi_client_free(browse.client);
  avahi_simple_poll_free(browse.poll);
  return kExitOk;
}
