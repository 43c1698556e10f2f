# Stands in for CMake's FindGTest in the Windows cross build: GoogleTest is
# compiled from source in the same build (see CrossGoogleTest.cmake), so the package
# is "found" when its targets exist.
if(TARGET GTest::gtest AND TARGET GTest::gtest_main AND TARGET GTest::gmock)
  set(GTest_FOUND TRUE)
  set(GTEST_FOUND TRUE)
else()
  set(GTest_FOUND FALSE)
  set(GTEST_FOUND FALSE)
  if(GTest_FIND_REQUIRED)
    message(FATAL_ERROR "GoogleTest targets are missing; include cmake/win32/CrossGoogleTest.cmake first")
  endif()
endif()
