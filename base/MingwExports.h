// Included ahead of every source of KelvoBaseV64.dll by MinGW's g++ (see
// CMakeLists.txt). g++ marks its type-information descriptor types dllexport
// when a dllexport class is the first to need them, and from then on exports
// the type information of every class the translation unit throws or catches
// (std::bad_alloc, Asio's error categories, ...). Plain classes that need
// all three descriptor kinds first keep the exports to the Kelvo_* API.
// Nothing here is emitted.
#pragma once

#include <typeinfo>

namespace kelvo_mingw_exports {

struct Root {
    virtual ~Root() {}
};
struct Single : Root {};
struct Other {
    virtual ~Other() {}
};
struct Multiple : Root, Other {};

static_assert(sizeof(typeid(Root)) + sizeof(typeid(Single)) + sizeof(typeid(Multiple)) > 0,
              "the descriptor types exist");

} // namespace kelvo_mingw_exports
