# Where the files of the Windows kit lie in this build, for
# scripts/package-windows.sh, and the target that builds them (trax_kit).
add_custom_target(trax_kit DEPENDS trax QelUsbDrv traxctl)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/win32/kit-files.txt CONTENT
"arch=${TRAX_WIN_ARCH}
dll=$<TARGET_FILE:trax>
implib=$<TARGET_LINKER_FILE:trax>
def=${TRAX_DEF_FILE}
traxctl=$<TARGET_FILE:traxctl>
driver=$<TARGET_FILE:QelUsbDrv>
")
