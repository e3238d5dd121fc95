// Why a stiffness matrix is singular: the motion that the failing step of the factorization
// reveals, every independent zero-energy mode of the symmetric matrix, and for each motion the
// nodes and directions that move, the elements there and a plain classification.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/audit/audit_geometry.h"
#include "tools/audit/audit_model.h"

namespace drav::audit {

struct MechanismOptions {
  // An eigenvalue counts as zero when |lambda| <= zero * (largest |lambda| of the matrix).
  double zero = 1e-12;
  // The eigenvalues are computed only when no connected part of the matrix has more equations
  // than this (a dense eigen-decomposition of order n takes about n^3 operations).
  int32_t max_order = 3000;
  // Moves with a smaller share of a motion are not listed.
  double min_share = 1e-6;
  // Text output: at most this many moves and elements a motion (0: all); JSON lists all.
  int32_t max_lines = 20;
  // When the eigenvalues are computed: always, only when the factorization fails (the
  // pictures of regular runs need none), or never (the motion at the failing step alone).
  enum class Eigen { Always, WhenSingular, Never };
  Eigen eigen = Eigen::Always;
};

// What a motion is, in the order in which a classification is chosen when several apply.
enum class MotionKind {
  RigidBody,    // a rigid-body motion of the structure or of a part that no support holds
  LeftOut,      // elements in a negative state (left out of the matrix) would have held it
  Collinear,    // collinear bars meet at a node, which can move across their line
  Slack,        // force-only elements with zero force (slack) reach the moving nodes
  Unreached,    // a node that no active element reaches in the moving direction
  Mechanism,    // the active bars let it pass: none of them changes its length
  Unclassified  // zero energy from force terms that cancel axial ones
};

// The word for a kind used in the JSON output: "rigid-body", "left-out-elements",
// "collinear-bars", "slack-elements", "unreached-node", "mechanism", "unclassified".
const char* kind_word(MotionKind k);

struct Reason {
  MotionKind kind;
  std::string text;
  std::vector<int32_t> nodes, elements;
};

struct Move {
  int32_t equation = 0, node = 0, dir = 0;
  double value = 0;  // component of the motion (the motion has length 1)
  double share = 0;  // value^2: the fraction of the squared length in this node-direction
};

struct Motion {
  std::vector<double> x;          // over the equations, length 1, largest component positive
  double energy = 0;              // x^T A x
  std::vector<Move> moves;        // largest share first, down to min_share
  double unlisted_share = 0;      // share of the moves below min_share
  std::vector<int32_t> nodes;     // nodes that move (ascending)
  std::vector<int32_t> elements;  // elements at those nodes (ascending)
  std::string rigid;              // "translation X", "rotation about Z", ... for a rigid motion
  MotionKind classification = MotionKind::Unclassified;
  std::vector<Reason> reasons;  // the classification's reason first
};

struct MechanismReport {
  std::optional<int32_t> status;  // drav0.dat, when present
  bool singular = false;          // the program's factorization fails on the rebuilt matrix
  int32_t KSTEP = 0;
  double pivot = 0;
  std::optional<Motion> failing;  // the null vector of the leading block at the failing step
  double failing_residual = 0;    // |A x| for that motion

  int32_t parts = 0;         // connected parts of the matrix
  int32_t largest_part = 0;  // equations of the largest
  bool eigen_done = false;
  double largest_eigenvalue = 0;  // largest |lambda|
  double zero_limit = 0;          // zero * largest |lambda|
  int32_t negative = 0;           // eigenvalues below -zero_limit
  double largest_zero = 0;        // largest |lambda| counted as zero
  double smallest_nonzero = 0;    // smallest |lambda| above the limit (0: none)
  std::vector<Motion> modes;      // one per zero eigenvalue, in a readable basis
};

// Rebuilds the matrix of the model, factors it as the program does and, when the parts are
// small enough, computes the zero-energy modes. Reads drav0.dat when it is there.
MechanismReport analyse_mechanism(Model& m, const MechanismOptions& opt);

}  // namespace drav::audit
