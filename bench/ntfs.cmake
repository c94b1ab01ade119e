# tarrow_mft_bench: the NTFS enumerator against the directory walk on one mount.
add_executable(tarrow_mft_bench MftBench.cpp)
target_link_libraries(tarrow_mft_bench PRIVATE tarrow_engine tarrow_warnings)
