#pragma once
// What differs between the libraries built from this tree. Each library links exactly one
// definition of these (the live library in api/Library.cpp, the simulator in
// sim/SimLibrary.cpp), so the choice is made at link time and the shared code never asks which
// library it is part of.

namespace vorn {

class TClassAPI;

// The environment letters vnInitialise accepts; any other letter answers 1.
bool LibraryAcceptsEnvironment(char environment);

// Installs the library's link layer for the process (idempotent) and attaches its requests to
// a new API object. Called by vnInitialise before the object is published.
void AttachLibraryLinks(TClassAPI& api);

}  // namespace vorn
