# The ext2/3/4 volume enumerator and its inode-table reader. Included from
# tests/CMakeLists.txt; paths are relative to tests/.
tarrow_add_test(ext_tests SOURCES engine/ExtVolumeTest.cpp LIBS engine_test_support)
tarrow_add_test(ext_thread_tests SOURCES engine/ExtEnumTest.cpp LIBS engine_test_support LABELS threads)
