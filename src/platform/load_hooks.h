// What the library sets up when it is loaded and tears down when it is unloaded.
#pragma once

namespace d2u {

void LibraryAttach();
void LibraryDetach();

}  // namespace d2u
