// The process entry point: the toolkit's entry with the application object.

#include "app/kestrel.h"

wxIMPLEMENT_APP(kestrel);
