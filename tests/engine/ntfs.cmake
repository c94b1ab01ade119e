# The NTFS volume enumerator and its master-file-table reader. Included from
# tests/CMakeLists.txt; paths are relative to tests/.
tarrow_add_test(ntfs_tests
  SOURCES engine/MftEnumTest.cpp engine/NtfsFileRecordTest.cpp engine/NtfsVolumeTest.cpp
          engine/NtfsJournalTest.cpp
  LIBS engine_test_support)
tarrow_add_test(ntfs_thread_tests SOURCES engine/MftEnumThreadTest.cpp LIBS engine_test_support LABELS threads)
# Real volumes: images made with mkntfs and mounted with ntfs-3g (skipped where FUSE,
# loop devices or the tools are missing).
tarrow_add_test(ntfs_image_tests SOURCES engine/NtfsImageTest.cpp LIBS engine_test_support LABELS ntfs_image)
