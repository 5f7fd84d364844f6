#pragma once
#include <cstdint>

#include "ZipByteSource.h"

// Whether `image` starts like a Windows executable: an MS-DOS header whose
// e_lfanew points, inside the file, at the "PE\0\0" signature.
bool isPeImage(const uint8_t* image, uint64_t size);

// Data directory `index` of the optional header (2 resources, 4 the
// certificate table): its address and size as recorded. False when the file
// is no PE image, has fewer directories, or the entry is empty.
bool findDataDirectory(const uint8_t* image, uint64_t imageSize, uint32_t index, uint32_t& address,
                       uint32_t& size);

// The two header fields an Authenticode digest leaves out, as file offsets:
// the 4-byte checksum and the 8-byte certificate table directory entry.
// False when the file is no PE image or has no such entry.
bool findUnhashedFields(const uint8_t* image, uint64_t imageSize, uint64_t& checksum, uint64_t& certificateEntry);

// The certificate table (the Authenticode signature) that the PE header
// declares: its file offset and size as recorded, which need not lie inside
// the file. False when the file is no PE image or declares no table.
bool findCertificateTable(const uint8_t* image, uint64_t imageSize, uint64_t& offset,
                          uint64_t& size);

// How much of a mapped executable to search for the appended archive. When
// the PE header declares a certificate table, the archive lies before it and
// the search stops at the table's start, whatever the signature's size and
// whatever follows the table: bytes after it are not covered by the
// signature and are never unpacked. Otherwise the whole file is searched.
uint64_t payloadSearchSize(const uint8_t* image, uint64_t imageSize);

// The same questions for a file read through views. The headers are looked
// for in its first window, where every executable keeps them.
bool isPeImage(ZipByteSource& file);
bool findCertificateTable(ZipByteSource& file, uint64_t& offset, uint64_t& size);
uint64_t payloadSearchSize(ZipByteSource& file);
