#pragma once
#include <cstdint>

// How much of a mapped executable to search for the appended archive. When
// the PE header declares a certificate table (the Authenticode signature)
// that ends exactly at the end of the file, the archive lies before it and
// the search stops at the table's start, whatever the signature's size.
// Otherwise the whole file is searched.
uint64_t payloadSearchSize(const uint8_t* image, uint64_t imageSize);
