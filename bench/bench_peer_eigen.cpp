#include "bench_peers.h"

#include <Eigen/SparseCore>

#include <cmath>

namespace {

using SparseMap = Eigen::Map<const Eigen::SparseMatrix<double, Eigen::ColMajor, int64_t>>;

// Eigen's view of our arrays, no copy: the unsigned offsets read as their signed twins (every
// one is below 2^63).
SparseMap eigen_view(const CscView& v)
{
    return SparseMap(static_cast<Eigen::Index>(v.nrows), static_cast<Eigen::Index>(v.ncols),
                     static_cast<Eigen::Index>(v.nnz), reinterpret_cast<const int64_t*>(v.jc),
                     reinterpret_cast<const int64_t*>(v.ir), v.pr);
}

}  // namespace

double eigen_frobenius_norm(const CscView& v)
{
    return std::sqrt(eigen_view(v).squaredNorm());
}

double eigen_one_norm(const CscView& v)
{
    const SparseMap a = eigen_view(v);
    const Eigen::RowVectorXd colsum = Eigen::RowVectorXd::Ones(a.rows()) * a.cwiseAbs();
    return colsum.size() > 0 ? colsum.maxCoeff() : 0.0;
}

double eigen_inf_norm(const CscView& v)
{
    const SparseMap a = eigen_view(v);
    const Eigen::VectorXd rowsum = a.cwiseAbs() * Eigen::VectorXd::Ones(a.cols());
    return rowsum.size() > 0 ? rowsum.maxCoeff() : 0.0;
}
