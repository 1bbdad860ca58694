#pragma once
// Every source of contact cards in one pass: the address books of the
// environment (AddressBookReader) and the vCard files the person named
// (configuration, `orlune sync --contacts FILE.vcf`).

#include "base/Environment.hpp"
#include "contacts/ContactCard.hpp"

#include <string>
#include <vector>

namespace orlune::core {

// Address books first, then `vcardFiles` in the order given; sourceIndex
// counts every source in that order. A source that cannot be read is a
// warning; this never throws for one.
ContactScan readContactSources(const Environment& environment,
                               const std::vector<std::string>& vcardFiles);

} // namespace orlune::core
