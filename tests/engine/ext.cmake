# The ext2/3/4 volume enumerator and its inode-table reader. Included from
# tests/CMakeLists.txt; paths are relative to tests/.
tarrow_add_test(ext_tests SOURCES engine/ExtVolumeTest.cpp LIBS engine_test_support)
tarrow_add_test(ext_thread_tests SOURCES engine/ExtEnumTest.cpp LIBS engine_test_support LABELS threads)
# Real volumes: images made by mkfs.ext4, loop-mounted (skipped where root, loop devices
# or e2fsprogs are missing).
tarrow_add_test(ext_image_tests SOURCES engine/ExtImageTest.cpp LIBS engine_test_support LABELS ext_image)
