#include "worker/channel_address.h"

#include "common/site.h"

namespace kestrova {

std::string ChannelAddress() {
  return std::string("https://").append(kSiteHost).append("/updates/kestrova-desk/latest.json");
}

}  // namespace kestrova
