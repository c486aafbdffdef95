// The computer identifier: 32 lowercase hexadecimal digits, stable per
// computer and product. It is the MD5 digest of a base identifier, made once
// per computer and kept in three places so that it survives the loss of any
// two, followed by the product name of the running program.
#pragma once

#include <vector>

#include "osal/ka_string.h"
#include "platform/network_adapters.h"

namespace wardex {

// The base identifier: read from the classes-root value, else from
// ComputerID.dat, else from the current user's value (written back to the
// classes-root value), else made anew and stored in all three. Kept for the
// process once known.
KaOSAL::KaString GetBaseComputerID();

// MD5 of the base identifier and the product name; made once per process.
KaOSAL::KaString GetComputerID();

// The parts that the derivations are made of, open to tests.
namespace computer_id_internal {

// The hardware address of the first Ethernet adapter with a gateway whose
// address bytes add up to more than 32, as "AA:BB:...", else "SOMEWHERE".
KaOSAL::KaString NetworkPart(const std::vector<platform::NetworkAdapter>& adapters);

// MD5 of |base| followed by |product_name|, or by the file name of
// |executable_path| when the product name is empty.
KaOSAL::KaString ComputerIDFor(const KaOSAL::KaString& base, const KaOSAL::KaString& product_name,
                               const KaOSAL::KaString& executable_path);

// Forgets what this process knows, so that the next call reads the stores.
void ForgetForTesting();

}  // namespace computer_id_internal
}  // namespace wardex
