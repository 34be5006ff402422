// Keeps the support library non-empty while every helper in it is optional.
