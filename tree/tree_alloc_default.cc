#include <cstdlib>

#include "tree/tree_alloc.h"

namespace zorm_mor_value {

void* TreeCalloc(std::size_t size) { return std::calloc(1, size); }

void TreeFree(void* block) { std::free(block); }

}  // namespace zorm_mor_value
