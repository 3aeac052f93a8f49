#include "ZoScsiSrvClient.h"

#include <boost/format.hpp>

std::string ZoScsiSrvClient::LunInfo::str() const {
    return (boost::format("Lun: [%s] Target: [%s] Host: [%s] Creation Time: [%llu]") % lun % target % host %
            static_cast<unsigned long long>(creationTime))
        .str();
}
