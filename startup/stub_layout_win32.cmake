# Places the stub's reserved locator bytes at file offset 15856 (0x3DF0).
#
# The offset is fixed by the installer format, but where a section's bytes land in the file
# depends on the sizes of the sections before it, and the engine's code is larger than 15856
# bytes. So the code is split in two around a reserved section:
#
#   headers | .text: code of some objects | .mwloc: zero padding, the 12 reserved bytes |
#   .textb: the rest of the code | read-only data, data, imports, resources
#
# A probe link (the same objects, the linker's default layout) gives each object's code size
# from its map. The objects whose code fills .text as fully as fits are chosen (largest first),
# and the stub's linker script is written with them; the padding in .mwloc is computed by the
# linker itself from .text's final size, so the reserved bytes land on the offset exactly.
# Nothing in the program refers to .mwloc. A verify pass over the final image confirms it.
#
#   cmake -DMODE=split  -DMAP=probe.map -DOUTPUT=locator.ld -P stub_layout_win32.cmake
#   cmake -DMODE=verify -DIMAGE=stub.exe -P stub_layout_win32.cmake

cmake_minimum_required(VERSION 3.20)
set(LOCATOR_OFFSET 15856)
set(LOCATOR_SIZE 12)
math(EXPR LOCATOR_END "${LOCATOR_OFFSET} + ${LOCATOR_SIZE}")

function(read_u32 file offset out)
  file(READ "${file}" hex OFFSET ${offset} LIMIT 4 HEX)
  string(LENGTH "${hex}" n)
  if(NOT n EQUAL 8)
    message(FATAL_ERROR "${file}: cannot read 4 bytes at ${offset}")
  endif()
  string(SUBSTRING "${hex}" 6 2 b3)
  string(SUBSTRING "${hex}" 4 2 b2)
  string(SUBSTRING "${hex}" 2 2 b1)
  string(SUBSTRING "${hex}" 0 2 b0)
  math(EXPR v "0x${b3}${b2}${b1}${b0}")
  set(${out} ${v} PARENT_SCOPE)
endfunction()

function(read_u16 file offset out)
  file(READ "${file}" hex OFFSET ${offset} LIMIT 2 HEX)
  string(SUBSTRING "${hex}" 2 2 b1)
  string(SUBSTRING "${hex}" 0 2 b0)
  math(EXPR v "0x${b1}${b0}")
  set(${out} ${v} PARENT_SCOPE)
endfunction()

# Section names in file order, with their raw data start and size.
function(read_sections file)
  read_u32("${file}" 60 pe)
  file(READ "${file}" sig OFFSET ${pe} LIMIT 4 HEX)
  if(NOT sig STREQUAL "50450000")
    message(FATAL_ERROR "${file}: no PE signature")
  endif()
  math(EXPR o "${pe} + 6")
  read_u16("${file}" ${o} count)
  math(EXPR o "${pe} + 20")
  read_u16("${file}" ${o} optional)
  math(EXPR table "${pe} + 24 + ${optional}")
  set(names "")
  math(EXPR last "${count} - 1")
  foreach(i RANGE 0 ${last})
    math(EXPR at "${table} + 40 * ${i}")
    file(READ "${file}" rawHex OFFSET ${at} LIMIT 8 HEX)
    string(REGEX REPLACE "(00)+$" "" rawHex "${rawHex}")
    set(name "")
    string(LENGTH "${rawHex}" hexLength)
    set(k 0)
    while(k LESS hexLength)
      string(SUBSTRING "${rawHex}" ${k} 2 byte)
      math(EXPR code "0x${byte}")
      string(ASCII ${code} char)
      string(APPEND name "${char}")
      math(EXPR k "${k} + 2")
    endwhile()
    math(EXPR o "${at} + 16")
    read_u32("${file}" ${o} rawSize)
    math(EXPR o "${at} + 20")
    read_u32("${file}" ${o} rawStart)
    math(EXPR o "${at} + 8")
    read_u32("${file}" ${o} virtualSize)
    list(APPEND names "${name}")
    set(SEC_${name}_START ${rawStart} PARENT_SCOPE)
    set(SEC_${name}_RAW ${rawSize} PARENT_SCOPE)
    set(SEC_${name}_SIZE ${virtualSize} PARENT_SCOPE)
  endforeach()
  set(SECTIONS "${names}" PARENT_SCOPE)
endfunction()

if(MODE STREQUAL "split")
  # Code bytes per object, from the probe's map: input sections of the .text output section.
  file(STRINGS "${MAP}" lines)
  set(inText FALSE)
  set(pending "")
  set(objects "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^\\.text ")
      set(inText TRUE)
      continue()
    elseif(inText AND line MATCHES "^[^ ]")
      break()
    endif()
    if(NOT inText)
      continue()
    endif()
    set(entry "")
    if(line MATCHES "^ (\\.text[^ ]*) +0x[0-9a-f]+ +0x([0-9a-f]+) (.+)$")
      set(size ${CMAKE_MATCH_2})
      set(entry "${CMAKE_MATCH_3}")
    elseif(line MATCHES "^ (\\.text[^ ]*)$")
      set(pending TRUE)
      continue()
    elseif(pending AND line MATCHES "^ +0x[0-9a-f]+ +0x([0-9a-f]+) (.+)$")
      set(size ${CMAKE_MATCH_1})
      set(entry "${CMAKE_MATCH_2}")
    endif()
    set(pending "")
    if(entry STREQUAL "")
      continue()
    endif()
    # "path/libx.a(member.o)" becomes the pattern "*libx.a:member.o"; a loose object "path/x.o"
    # becomes "*x.o". Each input section is counted rounded up to 16 bytes, more than any
    # alignment the code asks for, so the chosen set never overflows.
    if(entry MATCHES "^(.*/)?([^/(]+)\\(([^)]+)\\)$")
      set(key "*${CMAKE_MATCH_2}:${CMAKE_MATCH_3}")
    elseif(entry MATCHES "^(.*/)?([^/]+)$")
      set(key "*${CMAKE_MATCH_2}")
    else()
      continue()
    endif()
    string(MAKE_C_IDENTIFIER "${key}" id)
    math(EXPR rounded "(0x${size} + 15) / 16 * 16")
    if(NOT DEFINED BYTES_${id})
      set(BYTES_${id} 0)
      list(APPEND objects "${key}")
    endif()
    math(EXPR BYTES_${id} "${BYTES_${id}} + ${rounded}")
  endforeach()
  if(objects STREQUAL "")
    message(FATAL_ERROR "${MAP}: no code found in the probe's map")
  endif()

  # .texta starts after the headers (0x400) and its file data is rounded up to 512 bytes; the
  # reserved section must start at or before 0x3DF0, so .texta may hold 0x3800 bytes of code.
  set(budget 14336)
  set(sized "")
  foreach(key IN LISTS objects)
    string(MAKE_C_IDENTIFIER "${key}" id)
    math(EXPR padded "100000000 + ${BYTES_${id}}")
    list(APPEND sized "${padded}|${key}")
  endforeach()
  list(SORT sized)
  list(REVERSE sized)
  set(used 0)
  set(chosen "")
  foreach(item IN LISTS sized)
    string(REPLACE "|" ";" parts "${item}")
    list(GET parts 0 padded)
    list(GET parts 1 key)
    math(EXPR bytes "${padded} - 100000000")
    math(EXPR after "${used} + ${bytes}")
    if(after LESS_EQUAL budget)
      set(used ${after})
      list(APPEND chosen "    ${key}(.text .text$* .text.*)")
    endif()
  endforeach()
  list(JOIN chosen "\n" chosenText)
  file(WRITE "${OUTPUT}.tmp"
"/* Generated by startup/stub_layout_win32.cmake from the probe link. The engine's whole layout:
   the code of the objects listed first (${used} bytes at most), the reserved locator section
   padded so its 12 bytes end at ${LOCATOR_END}, the rest of the code, read-only data, data, the
   import tables and the resources. The padding is computed by the linker from the first code
   section's final size. Unwind tables are dropped: nothing unwinds without a C runtime. */
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .text __image_base__ + __section_alignment__ :
  {
${chosenText}
  }
  .mwloc BLOCK(__section_alignment__) :
  {
    . = . + (${LOCATOR_OFFSET} - ALIGN(SIZEOF_HEADERS, __file_alignment__)
                 - ALIGN(SIZEOF(.text), __file_alignment__));
    KEEP(*(.mwloc))
  }
  .textb BLOCK(__section_alignment__) : { *(.text) *(SORT(.text$*)) *(.text.*) }
  .rdata BLOCK(__section_alignment__) : { *(.rdata) *(SORT(.rdata$*)) *(.rodata) *(.rodata.*) }
  .data BLOCK(__section_alignment__) : { *(.data) *(.data2) *(SORT(.data$*)) *(.data.*) }
  .bss BLOCK(__section_alignment__) : { *(.bss) *(.bss.*) *(COMMON) }
  .idata BLOCK(__section_alignment__) :
  {
    /* Import descriptors, the all-zero descriptor that ends them, then the lookup tables, the
       address tables, the hints and the names. */
    KEEP(SORT(*)(.idata$2))
    KEEP(SORT(*)(.idata$3))
    LONG(0); LONG(0); LONG(0); LONG(0); LONG(0);
    KEEP(SORT(*)(.idata$4))
    __IAT_start__ = .;
    KEEP(SORT(*)(.idata$5))
    __IAT_end__ = .;
    KEEP(SORT(*)(.idata$6))
    KEEP(SORT(*)(.idata$7))
  }
  .rsrc BLOCK(__section_alignment__) : { KEEP(*(.rsrc)) KEEP(*(SORT(.rsrc$*))) }
  /DISCARD/ : { *(.eh_frame*) *(.debug*) *(.drectve) *(.note.*) *(.comment) *(.gnu.lto_*) }
}
")
  execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUTPUT}.tmp" "${OUTPUT}")
  return()
endif()

read_sections("${IMAGE}")
if(NOT ".mwloc" IN_LIST SECTIONS)
  message(FATAL_ERROR "${IMAGE}: no .mwloc section (the reserved locator bytes are missing)")
endif()

if(MODE STREQUAL "verify")
  # The reserved bytes are the last 12 of .mwloc's used data; no other section's data may cover
  # them.
  math(EXPR wantEnd "${LOCATOR_OFFSET} + ${LOCATOR_SIZE}")
  math(EXPR locEnd "${SEC_.mwloc_START} + ${SEC_.mwloc_SIZE}")
  if(NOT locEnd EQUAL wantEnd)
    message(FATAL_ERROR "stub: .mwloc ends at ${locEnd}, the reserved bytes must end at ${wantEnd}")
  endif()
  foreach(name IN LISTS SECTIONS)
    if(NOT name STREQUAL ".mwloc" AND SEC_${name}_RAW GREATER 0)
      math(EXPR end "${SEC_${name}_START} + ${SEC_${name}_RAW}")
      if(SEC_${name}_START LESS wantEnd AND end GREATER LOCATOR_OFFSET)
        message(FATAL_ERROR "stub: section ${name} covers the reserved locator bytes")
      endif()
    endif()
  endforeach()
else()
  message(FATAL_ERROR "MODE must be probe or verify")
endif()
