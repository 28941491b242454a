#pragma once

#include <glib-object.h>
#include <glib.h>

#include <memory>

namespace vardeko {

// Owns one reference of a GObject. Floating references (new GTK widgets) are sunk with
// AdoptSunk, so the owner's reference is the one released.
struct GObjectUnref {
  void operator()(gpointer object) const noexcept { g_object_unref(object); }
};
template <class T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

template <class T>
GObjectPtr<T> AdoptSunk(T* object) {
  return GObjectPtr<T>(static_cast<T*>(g_object_ref_sink(object)));
}

// A gchar* from GLib, freed with g_free.
struct GFree {
  void operator()(gpointer memory) const noexcept { g_free(memory); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;

}  // namespace vardeko
