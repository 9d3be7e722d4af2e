// Internal. The no-op lock policy of the maps whose owners lock around them themselves.
#pragma once

namespace KESTRO {
namespace TOOLS {

class null_lock {
public:
    void lock() {}
    void unlock() {}
};

}  // namespace TOOLS
}  // namespace KESTRO
