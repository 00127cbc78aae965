// The "dicom data" listings of a file: every element's key, each value as
// the dictionary's VR formats it (the dictionary holds one entry of every
// VR), and a group's elements.
#include <tcl.h>

#include <string>

#include "fuzz/fuzz.h"
#include "vesk/imagecmds.h"

FUZZ_TARGET(dicomtags) {
  Tcl_Interp *interp = fuzz::interp();
  static bool made = false;
  if (!made) {
    made = true;
    Dicom_Init(interp);
    Tcl_Eval(interp, R"(dicom add {0008 0016 UI 1 1 {SOP Class}} {0008 0020 DA 1 1 Date}
      {0008 0030 TM 1 1 Time} {0008 0060 CS 1 1 Modality} {0008 1030 LO 1 1 Study}
      {0010 0010 PN 1 1 Name} {0010 1010 AS 1 1 Age} {0018 0050 DS 1 1 Thickness}
      {0018 1063 DS 1 1 {Frame Time}} {0020 0013 IS 1 1 Number} {0020 4000 LT 1 1 Comments}
      {0028 0002 US 1 1 Samples} {0028 0004 CS 1 1 Photometric} {0028 0008 IS 1 1 Frames}
      {0028 0010 US 1 1 Rows} {0028 0011 US 1 1 Columns} {0028 0030 DS 2 2 Spacing}
      {0028 0100 US 1 1 Bits} {0028 1101 SS 3 3 Descriptor} {0028 1201 OW 1 -1 Red}
      {0028 1052 FL 1 1 Intercept} {0028 1053 FD 1 1 Slope} {0028 0009 AT 1 -1 Pointer}
      {0028 0106 SL 1 1 Smallest} {0028 0107 UL 1 1 Largest} {0040 0260 SQ 1 -1 Codes}
      {0029 0010 SH 1 1 Private} {0029 1010 OB 1 1 Blob} {0029 1020 UN 1 1 Unknown}
      {0029 1030 ST 1 1 Text} {0029 1040 UT 1 1 Long} {0029 1050 AE 1 1 Entity}
      {0029 1060 DT 1 1 Stamp} {7fe0 0010 OW 1 1 Pixels})");
  }
  fuzz::MemFile file(data, size);
  const std::string script = std::string("set p ") + file.path() + R"(
    if {![catch {dicom data $p} keys]} {
      foreach k [lrange $keys 0 95] {catch {dicom data $p {*}$k}}
      catch {dicom data $p 0028}
    })";
  Tcl_Eval(interp, script.c_str());
  Tcl_ResetResult(interp);
  return 0;
}
