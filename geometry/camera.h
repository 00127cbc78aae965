/*
 * camera.h --
 *     The frame camera command "camera.create".
 */
#ifndef VESK_GEOMETRY_CAMERA_H
#define VESK_GEOMETRY_CAMERA_H

#include <tcl.h>

namespace vesk {

/* Creates "camera.create" and "pushbroom.create". Results: 0, 1 when Tcl refuses one. */
int createCameraCommand(Tcl_Interp *interp);

}  // namespace vesk

#endif
