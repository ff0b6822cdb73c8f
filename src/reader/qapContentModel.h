// The bounds of a DTD's content models.
#pragma once

#include <xercesc/validators/DTD/DTDElementDecl.hpp>

// True when the automaton of the element's children content model stays within what a parse
// may spend on it (its positions, states and transitions counted before it is built). A model
// past the bounds is taken apart, so that nothing recurses over it.
bool qapContentModelWithinBounds(XERCES_CPP_NAMESPACE::DTDElementDecl &decl);
