public class Name {
    public static void main(String[] args) {
        System.out.println("thread " + Thread.currentThread().getName());
    }
}
