// `varnoltctl discover` on Linux: Avahi's client library browses _scpi-raw._tcp and _http._tcp
// through the running avahi-daemon and resolves each service it lists, on a simple poll in this
// thread that ends at the time-out.
#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>
#include <avahi-common/timeval.h>

#include <cstring>
#include <iterator>

#include "cli/discover.h"
#include "link/exit_codes.h"

namespace {

struct Browse {
  AvahiSimplePoll *poll;
  AvahiClient *client;
  DiscoverState *state;
  void (*onProgress)(DiscoverState *state, void *context);
  void *context;
  AvahiServiceBrowser *httpBrowser;
  bool httpListed;        // its browser listed all the responder knew of
  int32_t httpResolving;  // _http._tcp services listed and not resolved yet
};

// The panels are all known once their browser has listed them all and each has resolved.
void NoteHttpProgress(Browse *browse) {
  bool complete = browse->httpListed && browse->httpResolving == 0;
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
  if (strcmp(szType, "_http._tcp") == 0) {
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
        browser == browse->httpBrowser) {
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
  } else if (event == AVAHI_BROWSER_ALL_FOR_NOW && browser == browse->httpBrowser) {
    browse->httpListed = true;
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
  avahi_service_browser_new(browse.client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, "_scpi-raw._tcp",
                            nullptr, static_cast<AvahiLookupFlags>(0), OnBrowsed, &browse);
  browse.httpBrowser =
      avahi_service_browser_new(browse.client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, "_http._tcp",
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
