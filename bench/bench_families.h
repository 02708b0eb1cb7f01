// dropmost and a cold dropsmall search on the matrices that drive dropsmall's search to its
// worst cases (tests/support/search_families.h), each family in both its orientations, with
// every kind and tol 1e-6, 1e-3 and 1e-1 of the kind's norm:
//
//   search_cold/<family>/<one|inf>/<n>/<kind>_<tol>   search_threshold from tol (ratio 1), its
//                                                     candidate list already touched
//   sparsest/<family>/<one|inf>/<n>/<kind>_<tol>      find_sparsest_drop on the same, with
//                                                     vs_search (over the search's median)
//
// <one|inf> is the family's orientation (its columns or its rows hold the groups), <kind> the
// norm of the call. Both report their work and the share of entries dropped, and nnz.
// n comes from SPARSE_BENCH_FAMILY_SIZES (comma-separated, 1e4 as well as 10000), by default
// 1e4,1e5,1e6; an empty value leaves the families out.
#pragma once

// Registers the cases above, each search before the sparsest drop it is compared with.
void register_family_drops();
