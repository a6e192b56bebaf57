#include "preview/preview_objects.h"

#include <new>

namespace d2u {
namespace {
PreviewObjects* objects = nullptr;
}  // namespace

void CreatePreviewObjects() {
    // Default-initialised: every member but the chunk buffer initialises itself, and clearing
    // that megabyte at library load would touch each of its pages in every host process.
    if (!objects) objects = new (std::nothrow) PreviewObjects;
}

void DestroyPreviewObjects() {
    delete objects;
    objects = nullptr;
}

PreviewObjects* Preview() {
    // Also made on first use, for hosts that link the objects without the load hook running.
    if (!objects) CreatePreviewObjects();
    return objects;
}

}  // namespace d2u
