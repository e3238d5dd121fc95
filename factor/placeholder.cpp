namespace drav {}
