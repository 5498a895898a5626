// References to other packages (dependencies, provides, conflicts) as
// people write them: a name, then inclusive bounds ">= 7.1", "<= 7.2" or
// "= 7.1" (both bounds), then, in provides entries, "priority N" (signed),
// as in "routing >= 7.1 <= 7.2" or "dhcp-api priority 5". An operator may
// touch its neighbours ("routing>=7.1"). Versions are written as in
// version_text.h.
#ifndef NPK_REFERENCE_TEXT_H_
#define NPK_REFERENCE_TEXT_H_

#include <string>

#include "pdb/package.h"

// Priorities only when `withPriority`. False with *error quoting the text
// and naming the fault; *ref is then unchanged.
bool parseReference(const std::string& text, bool withPriority, PackageRef* ref,
                    std::string* error);

// The text parseReference reads back as the same reference.
std::string referenceText(const PackageRef& ref, bool withPriority);

#endif  // NPK_REFERENCE_TEXT_H_
